#include "control/daemon_fixture.h"

namespace velkor::testing {

using dispatcher = daemon_fixture;

TEST_F(dispatcher, FunctionTestAnswersWithoutTheBus)
{
    run("FUNCTION_TEST", 7);
    EXPECT_TRUE(bus.sent.empty());
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(7));
    EXPECT_EQ(strings{"FUNCTION_TEST: response = OK"}, dev_log());
    EXPECT_TRUE(main_log().empty());
}

TEST_F(dispatcher, UnknownCommandDoesNothing)
{
    run("NO_SUCH_COMMAND", 3);
    run("hallo", 3);
    EXPECT_TRUE(bus.sent.empty());
    EXPECT_FALSE(has_result(3));
    EXPECT_TRUE(dev_log().empty());
}

TEST_F(dispatcher, ListedSlaveIsAddressedByItsPrimaryAddress)
{
    control::list_assign_manual(d.addresses, "12345678-AAA-1-7", 5, 1);
    bus.expect(short_frame(0x40, 5), ack);
    run("HALLO", 9);
    EXPECT_EQ(1u, bus.sent.size());
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"5"})", result(9));
    EXPECT_EQ(strings{"HALLO: response = OK"}, dev_log());
}

TEST_F(dispatcher, SelectedSlaveIsAddressedAs253)
{
    bus.expect(select_slave, ack).expect(short_frame(0x40, 0xFD), ack);
    run("HALLO", 9);
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", result(9));
    EXPECT_EQ((strings{"HALLO: no prim. addr. for slave 12345678-AAA-1-7 in list, use sec. addr.",
                       "HALLO: response = OK"}),
              dev_log());
}

TEST_F(dispatcher, HalloResponses)
{
    struct row {
        bytes answer;
        const char* response;
        bool in_main_log;
    };
    for (const row& r : {row{{}, "No Answer", true}, row{{0xE5, 0xE5}, "Unknown", true}, row{{0x16}, "Unknown", true}}) {
        bus.expect(select_slave, ack).expect(short_frame(0x40, 0xFD), r.answer);
        run("HALLO", 2);
        EXPECT_EQ(std::string(R"({"ack_response":")") + r.response + R"(","primAdr":"NO"})", result(2));
        EXPECT_EQ(std::string("HALLO: response = ") + r.response, main_log().back());
    }
}

TEST_F(dispatcher, HalloEndsWhenTheSlaveIsNotAvailable)
{
    bus.expect(select_slave);
    run("HALLO", 2);
    EXPECT_FALSE(has_result(2));
    EXPECT_EQ(strings{"HALLO: slave with address 12345678-AAA-1-7 not available"}, main_log());
}

TEST_F(dispatcher, EachCommandSetsUpTheBusAnew)
{
    bus.expect(select_slave, ack).expect(short_frame(0x40, 0xFD), ack);
    run("HALLO", 0, 0, "12345678-AAA-1-7", 9600);
    EXPECT_EQ((std::vector<std::uint32_t>{9600, 9600}), bus.baud_rates);
    run("FUNCTION_TEST", 1, 0, "", 300, "/tmp/x");
    EXPECT_EQ("/tmp/x", d.bus.bus_name.view());
    EXPECT_EQ(300u, d.bus.baud_rate);
}

TEST_F(dispatcher, OutputDirectoryMissingLeavesNoTraceWithTheSwitchOff)
{
    d.files.directory.assign(dir.file("missing"));
    bus.expect(select_slave, ack).expect(short_frame(0x40, 0xFD), ack);
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    run("HALLO", 4);
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
    EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
    EXPECT_EQ(strings{"HALLO: response = OK"}, strings{dev_log().back()});
}

TEST_F(dispatcher, ControllerTracePrintsMessagesAndReportsFileFailures)
{
    d.files.directory.assign(dir.file("missing"));
    trace::control = 1;
    ::testing::internal::CaptureStderr();
    ::testing::internal::CaptureStdout();
    run("FUNCTION_TEST", 4);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    trace::control = 0;
    EXPECT_NE(std::string::npos, out.find("BUS = /dev/ttyS0\n"));
    EXPECT_NE(std::string::npos, out.find("FUNCTION_TEST: response = OK\n"));
    EXPECT_NE(std::string::npos, err.find("ANSWER_ACK: could not write file"));
}

} // namespace velkor::testing
