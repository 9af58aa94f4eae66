#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include "control/daemon_fixture.h"

namespace velkor::testing {

namespace {

const bytes req_fcb1 = short_frame(0x7B, 0xFD);

// The command field leaves 27 characters for a frame file's path.
struct control_commands : daemon_fixture {
    std::vector<std::string> made;
    std::string short_path(const std::string& name)
    {
        const std::string p = "/tmp/vk" + std::to_string(::getpid()) + name;
        made.push_back(p);
        return p;
    }
    ~control_commands() override
    {
        for (const auto& p : made)
            std::remove(p.c_str());
    }
};

} // namespace

TEST_F(control_commands, HalloExtResponses)
{
    struct row {
        bytes answer;
        const char* response;
        bool main_log;
    };
    bytes broken = rsp_ud("04 13 01 00 00 00");
    broken[4] = 0x18;  // data-flow-control bit set
    for (const row& r : {row{rsp_ud("04 13 01 00 00 00"), "OK", false}, row{{}, "No Answer", true},
                         row{broken, "Collision", true}}) {
        bus.expect(snd_nke_all).expect(select_slave, ack).expect(req_fcb1, r.answer);
        run("HALLO_EXT", 3);
        EXPECT_TRUE(bus.script.empty());
        EXPECT_EQ(std::string(R"({"ack_response":")") + r.response + R"(","primAdr":"NO"})", result(3));
        EXPECT_EQ(std::string("HALLO_EXT: response = ") + r.response, dev_log().back());
        EXPECT_EQ(r.main_log, !main_log().empty() && main_log().back() == dev_log().back());
    }
}

TEST_F(control_commands, HalloExtWithoutTheSlaveAnswersTwice)
{
    bus.expect(snd_nke_all).expect(select_slave);
    run("HALLO_EXT", 3);
    EXPECT_EQ(R"({"ack_response":"No Answer","primAdr":"NO"})", result(3));
    EXPECT_EQ((strings{"HALLO_EXT: slave with address 12345678-AAA-1-7 not available", "HALLO_EXT: response = No Answer",
                       "HALLO_EXT: response = No Answer"}),
              main_log());
}

TEST_F(control_commands, SetBaudrate)
{
    bus.expect(select_slave, ack).expect(long_frame("73 FD BB"), ack).expect(short_frame(0x40, 0xFD), ack);
    run("SET_BAUDRATE", 2, 2400, "12345678-AAA-1-7", 9600);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ((std::vector<std::uint32_t>{9600, 9600, 2400}), bus.baud_rates);
    EXPECT_EQ(std::vector<int>{1000}, clock.taken());
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(2));
    EXPECT_EQ("SET_BAUDRATE: set slave 12345678-AAA-1-7 to 2400Bd", dev_log()[dev_log().size() - 2]);
    EXPECT_TRUE(main_log().empty());

    bus.expect(select_slave, ack).expect(long_frame("73 FD BB"));
    run("SET_BAUDRATE", 3, 2400, "12345678-AAA-1-7", 9600);
    EXPECT_FALSE(has_result(3));
    EXPECT_EQ("SET_BAUDRATE: no answer from slave 12345678-AAA-1-7 with 9600Bd", dev_log().back());

    bus.expect(select_slave, ack).expect(long_frame("73 FD BB"), ack).expect(short_frame(0x40, 0xFD));
    run("SET_BAUDRATE", 3, 2400, "12345678-AAA-1-7", 9600);
    EXPECT_FALSE(has_result(3));
    EXPECT_EQ("SET_BAUDRATE: could not set slave 12345678-AAA-1-7 to 2400Bd", dev_log().back());
    EXPECT_TRUE(main_log().empty());
}

TEST_F(control_commands, FreezeDataSendsTheRoundedLocalTime)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    clock.wall = 1765051178;  // 06.12.2025 19:59:38 -> 19:55:00
    run("FREEZE_DATA", 1);
    // minute 55, hour 19, day 6 with year bits 0-2 (25 = 0b11001: 001), month 12 with bits 3-6 (0011)
    EXPECT_EQ(strings{to_hex(long_frame("63 FF 51 44 ED 00 37 13 26 3C 40 FD E1 0B"))}, sent_frames());
    EXPECT_FALSE(has_result(1));
    EXPECT_TRUE(dev_log().empty());
}

TEST_F(control_commands, SndUdFrames)
{
    struct row {
        const char* command;
        int param;
        const char* body;
    };
    const row rows[] = {
        {"SND_UD_RESET_CTRL", 0x102, "63 FD 51 41 FD 02 07"},
        {"SND_UD_SET_TEMP", 21, "63 FD 51 41 E7 FA 00 15"},
        {"SND_UD_RESET_TEMP", 99, "63 FD 51 41 E7 FA 07"},
        {"SND_UD_SET_SENSOR", 3, "63 FD 51 41 FC 03 70 79 54 00 03"},
        {"SND_UD_APPL_RESET", 0x10, "63 FD 50 10"},
        {"SND_UD_CTRL", 1, "63 FD 51 0D FD 9A 00 E1 01"},
        {"SND_UD_CTRL_U", 0x1234, "63 FD 51 02 FD C7 00 34 12"},
        {"SND_UD_CTRL_I", 0x1234, "63 FD 51 02 FD D7 00 34 12"},
    };
    for (const row& r : rows) {
        bus.expect(select_slave, ack).expect(long_frame(r.body), ack);
        run(r.command, 4, r.param);
        EXPECT_TRUE(bus.script.empty()) << r.command;
        EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(4));
        EXPECT_EQ(std::string(r.command) + ": response = OK", dev_log().back());
    }
}

TEST_F(control_commands, FrameFileIsSentWithTheTargetsAddressAndAFreshChecksum)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 9, 1);
    // A line as GET_RAW_DATA writes it, of a frame to address 1.
    const bytes original = long_frame("53 01 51 01 7A 05");
    const std::string f = short_path("f");
    write_file(f, to_hex(original) + " \n");
    run("FILE:" + f, 6);
    EXPECT_EQ(strings{to_hex(long_frame("53 09 51 01 7A 05"))}, sent_frames());
    // Reached by its primary address, the slave's acknowledgement is not awaited.
    EXPECT_FALSE(has_result(6));

    control::list_clear(d.addresses);
    bus.expect(select_slave, ack).expect(long_frame("53 FD 51 01 7A 05"), ack);
    run("FILE:" + f, 6);
    EXPECT_TRUE(bus.script.empty());
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(6));
}

TEST_F(control_commands, FrameFilesThatCannotBeSentAreRefused)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 9, 1);
    write_file(short_path("long"), std::string(300, '0'));
    write_file(short_path("nothex"), "68 03 03 68 53 XY 51 CS 16");
    write_file(short_path("short"), "10 40 05 45 16");
    struct row {
        const char* file;
        const char* message;
    };
    for (const row& r : {row{"long", "is longer than 255 characters, not sent"},
                         row{"nothex", "holds characters that are not hex digits, not sent"},
                         row{"short", "holds no long frame, not sent"}}) {
        const std::string path = short_path(r.file);
        run("FILE " + path, 6);
        EXPECT_TRUE(bus.sent.empty());
        EXPECT_EQ("FILE: " + path + " " + r.message, main_log().back());
    }
    EXPECT_FALSE(has_result(6));
}

TEST_F(control_commands, MissingFrameFileIsReportedAlways)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 9, 1);
    ::testing::internal::CaptureStdout();
    const std::string path = short_path("none");
    run("FILE:" + path, 6);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string message = "FILE: " + path + " not found";
    EXPECT_EQ(message + "\n", out);
    EXPECT_EQ(strings{message}, main_log());
    EXPECT_EQ((strings{message, message}), dev_log());
    EXPECT_TRUE(bus.sent.empty());
}

TEST_F(control_commands, FrameFileCommandWithoutAPathFindsNoFile)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 9, 1);
    for (const char* name : {"FILE", "FILE:", "XFILE"}) {
        ::testing::internal::CaptureStdout();
        run(name, 6);
        ::testing::internal::GetCapturedStdout();
        EXPECT_EQ("FILE:  not found", main_log().back()) << name;
    }
    EXPECT_TRUE(bus.sent.empty());
}

} // namespace velkor::testing
