#include <algorithm>
#include <cstdlib>
#include <ctime>

#include "control/daemon_fixture.h"

namespace velkor::testing {

namespace {

const bytes req_fcb1 = short_frame(0x7B, 0xFD);
const bytes req_fcb0 = short_frame(0x5B, 0xFD);

// Volume 305419896 × 0.001 m3; a flow temperature of 30.0 °C.
const std::string volume = "04 13 78 56 34 12 ";
const std::string flow_temperature = "02 5A 2C 01 ";

struct readout : daemon_fixture {
    readout()
    {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    // SND_NKE to all, then the selection acknowledged.
    void addressed() { bus.expect(snd_nke_all).expect(select_slave, ack); }
};

} // namespace

TEST_F(readout, ThreeTelegramsWithAlternatingFrameCountBit)
{
    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, rsp_ud(volume + "1F")).expect(req_fcb1, rsp_ud(volume));
    run("GET_DATA", 0);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ("GET_DATA: got 3 data-telegram(s) from slave 12345678-AAA-1-7", dev_log().back());
    // Progress answers go to the file numbered 0 even without an id.
    EXPECT_EQ(R"({"data_response":"Telegram 2, Receive More"})", result(0));
}

TEST_F(readout, ParamLimitsTheTelegrams)
{
    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, rsp_ud(flow_temperature + "1F"));
    run("GET_DATA", 5, 2);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ(6u, bus.sent.size() + 2);
    EXPECT_EQ("GET_DATA: got 2 data-telegram(s) from slave 12345678-AAA-1-7", dev_log().back());
    // The second telegram counts as the last: the document is closed.
    EXPECT_EQ("\t]\n}", result(5).substr(result(5).size() - 4));
}

TEST_F(readout, DecodedDocumentOfTwoTelegrams)
{
    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, rsp_ud(volume + flow_temperature));
    run("GET_DATA", 5);
    const std::string actual = "value actual / device 0 / tariff 0 / storage 0";
    EXPECT_EQ("{\n"
              "\t\"timestamp\":\"06.12.25 19:59:38\",\n"
              "\t\"mbus_id\":\"12345678-AAA-1-7\",\n"
              "\t\"access\":\"42\",\n"
              "\t\"status\":\"no error  \",\n"
              "\t\"records\":\n\t[\n"
              "\t\t[\n"
              "\t\t\t{\"tel\":\"1\", \"rec\":\"1\", \"descriptor\":\"Volume\",\"value\":\"305419896\", "
              "\"unit\":\"0.001 m3\", \"extended\":\"" +
                  actual +
                  "\"},\n"
                  "\t\t\t{\"tel\":\"1\", \"rec\":\"2\", \"descriptor\":\"telegram end\",\"value\":\"-\", "
                  "\"unit\":\"-\", \"extended\":\"-\"}"
                  "\n\t\t],\n"
                  "\t\t[\n"
                  "\t\t\t{\"tel\":\"2\", \"rec\":\"1\", \"descriptor\":\"Volume\",\"value\":\"305419896\", "
                  "\"unit\":\"0.001 m3\", \"extended\":\"" +
                  actual +
                  "\"},\n"
                  "\t\t\t{\"tel\":\"2\", \"rec\":\"2\", \"descriptor\":\"Flow Temperature\",\"value\":\"300\", "
                  "\"unit\":\"0.1 \xC2\xB0"
                  "C\", \"extended\":\"" +
                  actual +
                  "\"}"
                  "\n\t\t]\n"
                  "\t]\n}",
              result(5));
}

TEST_F(readout, StructuredDocumentOfTwoTelegrams)
{
    const bytes first = rsp_ud(volume + "1F");
    // The 1F record's VIF is the byte after it: the checksum.
    const std::string checksum = to_hex(std::span(first).subspan(first.size() - 2, 1));
    addressed();
    bus.expect(req_fcb1, first).expect(req_fcb0, rsp_ud(flow_temperature));
    run("GET_STRUCT_DATA", 6);
    EXPECT_EQ("{\n"
              "\t\"prim_adr\":\"05\",\n"
              "\t\"sec_adr\":\"78 56 34 12 21 04 01 07 \",\n"
              "\t\"access\":\"2a\",\n"
              "\t\"status\":\"00\",\n"
              "\t\"records\":\n\t[\n"
              "\t\t[\n"
              "\t\t\t{\"tel\":\"1\", \"rec\":\"1\", \"dif\":\"04 \",\"vif\":\"13 \", \"data\":\"78 56 34 12 \"},\n"
              "\t\t\t{\"tel\":\"1\", \"rec\":\"2\", \"dif\":\"1F \",\"vif\":\"" +
                  checksum +
                  " \", \"data\":\"\"}"
                  "\n\t\t],\n"
                  "\t\t[\n"
                  "\t\t\t{\"tel\":\"2\", \"rec\":\"1\", \"dif\":\"02 \",\"vif\":\"5A \", \"data\":\"2C 01 \"}"
                  "\n\t\t]\n"
                  "\t]\n}",
              result(6));
    EXPECT_EQ("GET_STRUCT_DATA: got 2 data-telegram(s) from slave 12345678-AAA-1-7", dev_log().back());
}

TEST_F(readout, RawDataIgnoresParam)
{
    addressed();
    const bytes t1 = rsp_ud(volume + "1F");
    const bytes t2 = rsp_ud(flow_temperature);
    bus.expect(req_fcb1, t1).expect(req_fcb0, t2);
    run("GET_RAW_DATA", 4, 1);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ("{\"telegrams\":\n[\"" + to_hex(t1) + " \"\n,\"" + to_hex(t2) + " \"\n\n]}", result(4));
    EXPECT_EQ("GET_RAW_DATA: got 2 data-telegram(s) from slave 12345678-AAA-1-7", dev_log().back());
}

TEST_F(readout, SlaveThatStopsAnswering)
{
    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, {});
    run("GET_DATA", 5);
    EXPECT_EQ(R"({"data_response":"No Answer"})", result(5));
    EXPECT_EQ("GET_DATA: no answer from selected slave 12345678-AAA-1-7", dev_log().back());
    EXPECT_TRUE(main_log().empty());

    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, {});
    run("GET_STRUCT_DATA", 6);
    EXPECT_FALSE(has_result(6));
    // A missing answer is no answer, never an invalid telegram.
    EXPECT_EQ("GET_STRUCT_DATA: no answer from selected slave 12345678-AAA-1-7", main_log().back());

    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, {});
    run("GET_RAW_DATA", 7);
    EXPECT_EQ("{\"telegrams\":\n[\"" + to_hex(rsp_ud(volume + "1F")) + " \"\n\n]}", result(7));
    EXPECT_EQ("GET_RAW_DATA: no answer from selected slave 12345678-AAA-1-7", main_log().back());
}

TEST_F(readout, LineLostFailsTheCommandAndNoOlderResultStays)
{
    struct row {
        const char* name;
        const char* command;
        bool lost_before_select;  // else after the first of two telegrams
        std::string result;       // empty: no result file
        const char* logged;
    };
    const row rows[] = {
        {"broadcast lost", "GET_DATA", true, R"({"ack_response":"No Answer","primAdr":"NO"})",
         "GET_DATA: no answer from selected slave 12345678-AAA-1-7"},
        {"lost in a readout", "GET_DATA", false, R"({"data_response":"No Answer"})",
         "GET_DATA: no answer from selected slave 12345678-AAA-1-7"},
        {"no partial raw list", "GET_RAW_DATA", false, "", "GET_RAW_DATA: no answer from selected slave 12345678-AAA-1-7"},
        {"nothing written", "HALLO", true, "", "HALLO: slave with address 12345678-AAA-1-7 not available"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        write_file(dir.file("out/mbus_5"), R"({"data_response":"an older command's"})");
        write_file(dir.file("mbusLogDev"), "");
        bus.sent.clear();
        if (r.lost_before_select) {
            bus.lose_line();
        } else {
            addressed();
            bus.expect(req_fcb1, rsp_ud(volume + "1F")).lose_line();
        }
        run(r.command, 5);
        EXPECT_TRUE(bus.script.empty());
        EXPECT_EQ(r.lost_before_select ? 1u : 4u, bus.sent.size()) << "nothing goes out after the loss";
        EXPECT_EQ(r.result, has_result(5) ? result(5) : "");
        const strings log = dev_log();
        EXPECT_NE(log.end(), std::find(log.begin(), log.end(), r.logged)) << r.logged;
    }
}

TEST_F(readout, WrongChecksumOnTheFirstTelegram)
{
    bytes broken = rsp_ud(volume);
    broken[broken.size() - 2] ^= 0xFF;
    addressed();
    bus.expect(req_fcb1, broken);
    run("GET_DATA", 5);
    EXPECT_EQ(R"({"data_response":"Telegram Invalid"})", result(5));
    EXPECT_EQ("GET_DATA: data-telegram 1 from slave 12345678-AAA-1-7 invalid", dev_log().back());
}

TEST_F(readout, StructuredReadoutWritesNoMessageAnswers)
{
    addressed();
    bus.expect(req_fcb1, rsp_ud(volume + "1F")).expect(req_fcb0, rsp_ud(volume));
    testing::write_file(dir.file("out/mbus_6"), "old");
    run("GET_STRUCT_DATA", 6, 1);
    EXPECT_EQ(0u, result(6).find("{\n\t\"prim_adr\""));
}

TEST_F(readout, AddressingFailureEndsWithTheAcknowledgementAnswer)
{
    bus.expect(snd_nke_all).expect(select_slave, {});
    run("GET_DATA", 5);
    EXPECT_EQ(R"({"ack_response":"No Answer","primAdr":"NO"})", result(5));
    EXPECT_EQ((strings{"GET_DATA: slave with address 12345678-AAA-1-7 not available",
                       "GET_DATA: response = No Answer"}),
              main_log());
    EXPECT_EQ("GET_DATA: no answer from selected slave 12345678-AAA-1-7", dev_log()[dev_log().size() - 2]);
}

TEST_F(readout, SlaveThatAnnouncesMoreForEverIsCut)
{
    addressed();
    bus.responder = [](std::span<const std::uint8_t>) { return rsp_ud(volume + "1F"); };
    run("GET_RAW_DATA", 4);
    EXPECT_EQ(2u + 128u, bus.sent.size());
    EXPECT_EQ((strings{"GET_RAW_DATA: slave 12345678-AAA-1-7 announces more than 128 telegrams, readout cut"}),
              main_log());
    EXPECT_EQ("GET_RAW_DATA: got 128 data-telegram(s) from slave 12345678-AAA-1-7", dev_log().back());
    EXPECT_EQ("\n]}", result(4).substr(result(4).size() - 3));

    bus.sent.clear();
    addressed();
    run("GET_DATA", 5);
    EXPECT_EQ(2u + 128u, bus.sent.size());
    EXPECT_EQ("\t]\n}", result(5).substr(result(5).size() - 4));
}

TEST_F(readout, ListedSlaveIsReadByItsPrimaryAddress)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 5, 1);
    bus.expect(snd_nke_all).expect(short_frame(0x7B, 5), rsp_ud(volume));
    run("GET_DATA", 5);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ(strings{"GET_DATA: got 1 data-telegram(s) from slave 12345678-AAA-1-7"}, dev_log());
}

} // namespace velkor::testing
