// velkor-decode against the documents the daemon itself writes.

#include <gtest/gtest.h>

#include <sstream>

#include "control/daemon_fixture.h"
#include "support/process.h"

namespace velkor::testing {

namespace {

struct decode_tool : daemon_fixture {
    process run_decode(const std::vector<std::string>& args, const std::string& input)
    {
        write_file(dir.file("input"), input);
        std::vector<std::string> argv{built_program("velkor-decode")};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back(dir.file("input"));
        auto p = process::start(argv, dir.file("decode.out"), dir.file("decode.err"));
        EXPECT_TRUE(p.wait(10000));
        return p;
    }
};

// A document without its time stamp line, which tells when it was written.
std::string without_timestamp(const std::string& document)
{
    std::istringstream in(document);
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.find("\"timestamp\"") == std::string::npos)
            out += line + "\n";
    return out;
}

const std::string heat = "04 06 2C 01 00 00 04 13 78 56 34 12 02 5A 2C 01 02 5E 1E 01 04 6D 1E 0C 79 11 ";
const std::string tariffs = "84 10 06 10 00 00 00 0C 78 21 43 65 87 ";

} // namespace

TEST_F(decode_tool, TablePrintsTheHeaderAndOneAlignedRowPerRecord)
{
    auto p = run_decode({"--table"}, "68 2A 2A 68 08 05 72 78 56 34 12 21 04 01 04 2A 00 00 00 04 06 2C 01 00 00 04 13 "
                                     "78 56 34 12 02 5A 2C 01 02 5E 1E 01 04 6D 1E 0C 79 11 1F 95 16\n");
    EXPECT_EQ(0, p.status) << p.err();
    const std::string out = p.out();
    ASSERT_EQ(0u, out.find("timestamp  ")) << out;
    EXPECT_EQ("mbus_id    12345678-AAA-1-4\n"
              "access     42\n"
              "status     no error\n"
              "\n"
              "telegram  record  descriptor          value           unit      extended\n"
              "1         1       Energy              300             1000 Wh   value actual / device 0 / tariff 0 / storage 0\n"
              "1         2       Volume              305419896       0.001 m3  value actual / device 0 / tariff 0 / storage 0\n"
              "1         3       Flow Temperature    300             0.1 °C    value actual / device 0 / tariff 0 / storage 0\n"
              "1         4       Return Temperature  286             0.1 °C    value actual / device 0 / tariff 0 / storage 0\n"
              "1         5       Time Point          25.01.11 12:30            value actual / device 0 / tariff 0 / storage 0\n"
              "1         6       telegram end        -               -         -\n",
              out.substr(out.find('\n') + 1));
}

TEST_F(decode_tool, GivesTheRecordsGetDataGivesForTheSameReadout)
{
    const bytes t1 = rsp_ud(heat + "1F");
    const bytes t2 = rsp_ud(tariffs);
    for (const char* command : {"GET_RAW_DATA", "GET_DATA", "GET_STRUCT_DATA"}) {
        bus.expect(snd_nke_all).expect(select_slave, ack);
        bus.expect(short_frame(0x7B, 0xFD), t1).expect(short_frame(0x5B, 0xFD), t2);
        run(command, 1);
        write_file(dir.file(command), result(1));
    }
    auto p = run_decode({}, read_file(dir.file("GET_RAW_DATA")));
    EXPECT_EQ(0, p.status) << p.err();
    EXPECT_EQ(without_timestamp(read_file(dir.file("GET_DATA")) + "\n"), without_timestamp(p.out()));

    auto s = run_decode({"--struct"}, read_file(dir.file("GET_RAW_DATA")));
    EXPECT_EQ(0, s.status) << s.err();
    EXPECT_EQ(read_file(dir.file("GET_STRUCT_DATA")) + "\n", s.out());
}

TEST_F(decode_tool, ReadsEveryInputForm)
{
    const std::string line = to_hex(rsp_ud(heat));
    auto plain = run_decode({}, line + "\n");
    ASSERT_EQ(0, plain.status) << plain.err();
    const std::string expected = without_timestamp(plain.out());
    for (const std::string& form : {"\"" + line + " \"\n", ",\"" + line + " \"\n", "\n  " + line + "\r\n\n",
                                    "{\"telegrams\":\n[\"" + line + " \"\n\n]}"}) {
        auto p = run_decode({}, form);
        EXPECT_EQ(0, p.status) << form << p.err();
        EXPECT_EQ(expected, without_timestamp(p.out())) << form;
    }
}

TEST_F(decode_tool, LastTelegramAnnouncingMoreClosesTheDocument)
{
    auto p = run_decode({}, to_hex(rsp_ud(heat + "1F")) + "\n");
    ASSERT_EQ(0, p.status) << p.err();
    EXPECT_NE(std::string::npos, p.out().find("\"rec\":\"6\", \"descriptor\":\"telegram end\""));
    EXPECT_EQ("\n\t\t]\n\t]\n}\n", p.out().substr(p.out().size() - 10));
}

TEST_F(decode_tool, TelegramsAfterOneWithoutMoreAreIgnoredWithANote)
{
    auto p = run_decode({}, to_hex(rsp_ud(heat)) + "\n" + to_hex(rsp_ud(tariffs)) + "\n");
    ASSERT_EQ(0, p.status);
    EXPECT_EQ(std::string::npos, p.out().find("\"tel\":\"2\""));
    EXPECT_NE(std::string::npos, p.err().find("line 1: telegram 1 announces no more telegrams"));
}

TEST_F(decode_tool, InvalidInputNamesTheLineAndWhatFailed)
{
    bytes broken = rsp_ud(heat);
    broken[broken.size() - 2] ^= 1;
    struct row {
        std::string input;
        std::string message;
    };
    // Appended, not "\n" + ...: that trips g++ 12's -Wrestrict at -O3.
    const std::vector<row> rows = {
        {std::string(1, '\n').append(to_hex(broken)).append(1, '\n'), "velkor-decode: line 2: invalid telegram: checksum\n"},
        {"68 0Z\n", "velkor-decode: line 1: 'Z' is not a hexadecimal digit\n"},
        {"68 0\n", "velkor-decode: line 1: odd number of hexadecimal digits\n"},
        {"E5\n", "velkor-decode: line 1: invalid telegram: header (68 L L 68, C field 08, CI field 72), "
                 "length (L + 6 bytes)\n"},
        {"\n\n", "velkor-decode: no telegram in the input\n"},
    };
    for (const row& r : rows) {
        auto p = run_decode({}, r.input);
        EXPECT_EQ(1, p.status) << r.input;
        EXPECT_EQ(r.message, p.err());
        EXPECT_EQ("", p.out());
    }
}

TEST_F(decode_tool, UsageErrors)
{
    auto p = process::start({built_program("velkor-decode"), "--bogus"}, dir.file("o"), dir.file("e"));
    ASSERT_TRUE(p.wait(5000));
    EXPECT_EQ(2, p.status);
    EXPECT_NE(std::string::npos, p.err().find("usage: velkor-decode"));
}

} // namespace velkor::testing
