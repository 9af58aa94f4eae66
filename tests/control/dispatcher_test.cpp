#include "control/command_table.h"
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

TEST(command_table, every_name_reaches_its_own_entry_and_contained_names_match_in_order)
{
    for (const control::command_entry& entry : control::command_table)
        EXPECT_EQ(&entry, control::find_command(entry.name)) << entry.name;
    const struct {
        const char* name;
        const char* runs;  // nullptr: no command
    } cases[] = {
        {"SETSECADR_12345678-AAA-1-7", "SETSECADR_"},
        {"XSETSECADR_", "SETSECADR_"},
        {"SETSECADR_FILE", "SETSECADR_"},  // the address commands are tried first
        {"FILE_/tmp/frame", "FILE"},
        {"MY_FILE", "FILE"},
        {"SET_PRIMARY_ADDRESS_MANUAL", "SET_PRIMARY_ADDRESS_MANUAL"},
        {"SETSECADR", nullptr},
        {"HALLO ", nullptr},
        {"SND_UD", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        const control::command_entry* entry = control::find_command(c.name);
        EXPECT_EQ(c.runs ? std::string(c.runs) : "(none)", entry ? std::string(entry->name) : "(none)") << c.name;
    }
}

} // namespace velkor::testing
