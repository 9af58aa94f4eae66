// velkor-cmd: the record it writes, how it waits for the answer, its exit codes.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <thread>

#include "../../tools/velkor-cmd/command_names.h"
#include "../../tools/velkor-cmd/result_check.h"
#include "support/fake_bus.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

using cmd::result_state;

struct fifo_fixture : ::testing::Test {
    temp_dir dir;
    std::string fifo = dir.file("cmd.fifo");
    int reader = -1;

    void SetUp() override
    {
        ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
        reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
    }
    void TearDown() override { ::close(reader); }

    // Whatever arrives in the FIFO within the time.
    std::string read_record(std::size_t want = 332, int timeout_ms = 5000)
    {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            char buffer[512];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, static_cast<std::size_t>(n));
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return got;
    }

    std::vector<std::string> args(std::initializer_list<std::string> more)
    {
        std::vector<std::string> a = {built_program("velkor-cmd"), "--fifo", fifo};
        a.insert(a.end(), more);
        return a;
    }
};

using velkor_cmd = fifo_fixture;

TEST_F(velkor_cmd, writes_the_record_byte_for_byte_and_prints_the_answer)
{
    const std::string answer = "{\"ack_response\":\"OK\",\"primAdr\":\"NO\"}";
    process c = process::start(args({"--bus", "/tmp/ttyS-sim", "--br", "2400", "--sec", "30512047-VLK-2-4", "--id", "7",
                          "--param", "-2", "--out", dir.path, "--timeout", "10", "HALLO"}));
    const std::string record = read_record();
    ASSERT_EQ(332u, record.size());

    std::array<std::uint8_t, 332> expected{};
    std::memcpy(&expected[0], "/tmp/ttyS-sim", 13);
    const std::uint8_t id[] = {7, 0, 0, 0}, br[] = {0x60, 0x09, 0, 0}, param[] = {0xFE, 0xFF, 0xFF, 0xFF};
    std::memcpy(&expected[256], id, 4);
    std::memcpy(&expected[260], br, 4);
    std::memcpy(&expected[264], "30512047-VLK-2-4", 16);
    std::memcpy(&expected[296], "HALLO", 5);
    std::memcpy(&expected[328], param, 4);
    EXPECT_EQ(to_hex(expected), to_hex(std::span(reinterpret_cast<const std::uint8_t*>(record.data()), 332)));

    write_file(dir.file("mbus_7"), answer);
    std::string out, err;
    EXPECT_EQ(0, c.finish(out, err)) << err;
    EXPECT_EQ(answer + "\n", out);
}

TEST_F(velkor_cmd, texts_filling_their_fields_keep_a_terminating_zero)
{
    const std::string sec(31, 's'), command(31, 'C'), bus(255, 'b');
    process c = process::start(args({"--bus", bus, "--sec", sec, "--force", command}));
    const std::string record = read_record();
    ASSERT_EQ(332u, record.size());
    EXPECT_EQ(bus, record.substr(0, 255));
    EXPECT_EQ('\0', record[255]);
    EXPECT_EQ(sec + '\0', record.substr(264, 32));
    EXPECT_EQ(command + '\0', record.substr(296, 32));
    std::string out, err;
    EXPECT_EQ(0, c.finish(out, err)) << err;
    EXPECT_EQ("", out);
}

TEST_F(velkor_cmd, waits_past_intermediate_answers_for_the_final_one)
{
    const struct {
        const char* command;
        const char* between;
        const char* final;
        int status = 0;  // a search that could not cover the bus is a failure
    } cases[] = {
        {"GET_DATA", "{\"data_response\":\"Telegram 1, Receive More\"}",
         "{\n\t\"timestamp\":\"06.12.25 20:59:38\",\n\t\"mbus_id\":\"30512047-VLK-2-4\",\n\t\"access\":\"33\",\n"
         "\t\"status\":\"no error  \",\n\t\"records\":\n\t[\n\t\t[\n\t\t\t{\"tel\":\"1\", \"rec\":\"1\", "
         "\"descriptor\":\"Energy\",\"value\":\"17342\", \"unit\":\"kWh\", \"extended\":\"\"}\n\t\t]\n\t]\n}"},
        {"SLAVE_SEARCH",
         "{\n\t\"slaves\":\n\t[\n\t\t{\"cnt\":\"1\", \"sec_address\":\"30512047-VLK-2-4\", \"prim_address\":\"1\"}\n"
         "\t],\n\t\"progress\":\"3F FF FF FF FF FF FF FF \",\n\t\"state\":\"run\"\n}",
         "{\n\t\"slaves\":\n\t[\n\t\t{\"cnt\":\"1\", \"sec_address\":\"30512047-VLK-2-4\", \"prim_address\":\"1\"}\n"
         "\t],\n\t\"progress\":\"9F FF FF FF FF FF FF FF \",\n\t\"state\":\"end\"\n}"},
        {"SLAVE_SEARCH", "{\"slaves\":[],\"progress\":\"3F FF FF FF FF FF FF FF\",\"state\":\"run\"}",
         "{\"slaves\":[],\"progress\":\"3F FF FF FF FF FF FF FF\",\"state\":\"incomplete\"}", 1},
    };
    for (const auto& k : cases) {
        process c = process::start(args({"--id", "3", "--out", dir.path, "--timeout", "10", k.command}));
        ASSERT_EQ(332u, read_record().size());
        write_file(dir.file("mbus_3"), k.between);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(c.running()) << k.command;
        write_file(dir.file("mbus_3"), k.final);
        std::string out, err;
        EXPECT_EQ(k.status, c.finish(out, err)) << err;
        EXPECT_EQ(std::string(k.final) + "\n", out) << k.command;
        EXPECT_EQ("", err) << "no status line on a pipe";
    }
}

TEST_F(velkor_cmd, shows_a_status_line_while_the_command_runs_on_a_terminal_stderr)
{
    const struct {
        const char* command;
        const char* between;
        const char* status;
        const char* final;
    } cases[] = {
        {"SLAVE_SEARCH",
         "{\"slaves\":[{\"cnt\":\"1\", \"sec_address\":\"30512047-VLK-2-4\", \"prim_address\":\"1\"}],"
         "\"progress\":\"3F FF FF FF FF FF FF FF \",\"state\":\"run\"}",
         "\rSLAVE_SEARCH: probe 3F FF FF FF FF FF FF FF, 1 found, 0:0",
         "{\"slaves\":[],\"progress\":\"\",\"state\":\"end\"}"},
        {"GET_DATA", "{\"data_response\":\"Telegram 2, Receive More\"}", "\rGET_DATA: 2 telegram(s) received, 0:0",
         "{\"data_response\":\"No Answer\"}"},
    };
    for (const auto& k : cases) {
        pty_pair tty;
        ASSERT_TRUE(tty.ok());
        int out[2];
        ASSERT_EQ(0, ::pipe(out));
        const auto a = args({"--id", "4", "--out", dir.path, "--timeout", "10", k.command});
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(tty.slave, 2);
            std::vector<char*> argv;
            for (const std::string& s : a)
                argv.push_back(const_cast<char*>(s.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ASSERT_EQ(332u, read_record().size());
        write_file(dir.file("mbus_4"), k.between);

        std::string terminal;
        auto read_terminal = [&](const std::string& until) {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (terminal.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
                pollfd p{tty.master, POLLIN, 0};
                char buffer[256];
                if (::poll(&p, 1, 50) > 0) {
                    const ssize_t n = ::read(tty.master, buffer, sizeof buffer);
                    terminal.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
                }
            }
        };
        read_terminal(k.status);
        EXPECT_NE(std::string::npos, terminal.find(k.status)) << terminal;
        write_file(dir.file("mbus_4"), k.final);
        int status = -1;
        ASSERT_EQ(pid, ::waitpid(pid, &status, 0));
        EXPECT_EQ(0, WEXITSTATUS(status));
        read_terminal("\r\033[K");
        EXPECT_EQ("\r\033[K", terminal.substr(terminal.size() - 4)) << "the status line is cleared at the end";
        std::string printed(4096, '\0');
        printed.resize(static_cast<std::size_t>(std::max<ssize_t>(::read(out[0], printed.data(), printed.size()), 0)));
        ::close(out[0]);
        EXPECT_EQ(std::string(k.final) + "\n", printed) << "nothing of the status on stdout";
    }
}

TEST_F(velkor_cmd, table_prints_a_slaves_list_and_an_answer_aligned)
{
    const struct {
        const char* document;
        const char* table;
    } cases[] = {
        {"{\n\t\"slaves\":\n\t[\n\t\t{\"cnt\":\"1\", \"sec_address\":\"30512047-VLK-2-4\", \"prim_address\":\"1\"},\n"
         "\t\t{\"cnt\":\"12\", \"sec_address\":\"52004731-VLK-1-7\", \"prim_address\":\"NO\"}\n\t],\n"
         "\t\"progress\":\"9F FF FF FF FF FF FF FF \",\n\t\"state\":\"end\"\n}",
         "count  secondary address  primary address\n"
         "1      30512047-VLK-2-4   1\n"
         "12     52004731-VLK-1-7   NO\n"},
        {"{\"ack_response\":\"OK\",\"primAdr\":\"NO\"}", "ack_response  OK\nprimAdr       NO\n"},
        {"{\"telegrams\":\n[\"68 03 03 68 08 01 72 7B 16 \"\n,\"E5 \"\n]}", "telegrams  68 03 03 68 08 01 72 7B 16\n           E5\n"},
    };
    for (const auto& k : cases) {
        process c = process::start(args({"--id", "5", "--out", dir.path, "--timeout", "10", "--table", "GET_ADDRESS_LIST"}));
        ASSERT_EQ(332u, read_record().size());
        write_file(dir.file("mbus_5"), k.document);
        std::string out, err;
        EXPECT_EQ(0, c.finish(out, err)) << err;
        EXPECT_EQ(k.table, out);
    }
}

TEST_F(velkor_cmd, old_answer_is_removed_and_a_missing_one_times_out)
{
    write_file(dir.file("mbus_9"), "{\"ack_response\":\"OK\",\"primAdr\":\"NO\"}");
    process c = process::start(args({"--id", "9", "--out", dir.path, "--timeout", "0.5", "HALLO"}));
    EXPECT_EQ(332u, read_record().size());
    std::string out, err;
    EXPECT_EQ(1, c.finish(out, err));
    EXPECT_EQ("", out);
    EXPECT_NE(std::string::npos, err.find("time-out")) << err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("mbus_9")));
}

// No daemon: said at once, not after the command's time-out.
TEST(velkor_cmd_alone, fifo_without_a_reader_fails_at_once)
{
    temp_dir dir;
    const std::string fifo = dir.file("cmd.fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const struct {
        std::string path;
        const char* says;
    } cases[] = {{fifo, "has no reader: the daemon is not running"}, {dir.file("missing.fifo"), "does not exist"}};
    for (const auto& k : cases) {
        const auto start = std::chrono::steady_clock::now();
        process c = process::start({built_program("velkor-cmd"), "--fifo", k.path, "--id", "1", "--out", dir.path, "HALLO"});
        std::string out, err;
        EXPECT_EQ(1, c.finish(out, err)) << k.path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
        EXPECT_NE(std::string::npos, err.find(k.says)) << err;
    }
}

TEST(velkor_cmd_alone, argument_errors_exit_2_with_usage)
{
    temp_dir dir;
    const std::string prog = built_program("velkor-cmd"), fifo = dir.file("f");
    const std::vector<std::vector<std::string>> cases = {
        {},                                                         // nothing
        {"--fifo", fifo},                                           // no command
        {"HALLO"},                                                  // no FIFO
        {"--fifo", fifo, "HALLO", "GET_DATA"},                      // two commands
        {"--fifo", fifo, "--colour", "red", "HALLO"},               // unknown option
        {"--fifo", fifo, "--br", "24oo", "HALLO"},                  // not a number
        {"--fifo", fifo, "--param", "4294967296", "HALLO"},         // beyond 32 bits
        {"--fifo", fifo, "--id", "-1", "--out", dir.path, "HALLO"}, // negative id
        {"--fifo", fifo, "--id", "5", "HALLO"},                     // id without --out
        {"--fifo", fifo, "--id", "5", "--out", dir.file("nodir"), "HALLO"},
        {"--fifo", fifo, "--sec", std::string(32, 's'), "HALLO"},   // 32 characters do not fit with the zero
        {"--fifo", fifo, std::string(32, 'C')},
        {"--fifo", fifo, "--bus", std::string(256, 'b'), "HALLO"},
        {"--fifo", fifo, "--timeout", "0", "HALLO"},
        {"--fifo", fifo, "HALLO", "--br"},                          // option without its value
        {"--fifo", fifo, "hallo"},                                  // no such command
        {"--fifo", fifo, "SETSECADR_1234"},
        {"--fifo", fifo, "--br", "2401", "HALLO"},                  // no line speed
        {"--fifo", fifo, "--sec", "3051204-VLK-2-4", "HALLO"},      // no secondary address
    };
    for (const auto& extra : cases) {
        std::vector<std::string> a = {prog};
        a.insert(a.end(), extra.begin(), extra.end());
        process c = process::start(a);
        std::string out, err;
        EXPECT_EQ(2, c.finish(out, err)) << ::testing::PrintToString(extra);
        EXPECT_NE(std::string::npos, err.find("usage:")) << err;
    }
}

TEST(command_names, knows_the_daemons_commands_and_how_long_they_may_take)
{
    const struct {
        const char* name;
        bool known;
    } names[] = {{"HALLO", true}, {"hallo", false}, {"GET_DATA", true}, {"SETSECADR_30512047-VLK-2-4", true},
                 {"SETSECADR_30512047", false}, {"FILE /tmp/frame", true}, {"FILE", false}, {"FUNCTION_TEST", true}};
    for (const auto& n : names)
        EXPECT_EQ(n.known, cmd::command_named(n.name, 0).has_value()) << n.name;
    // A HALLO is over in seconds, a search of a full bus can take an hour.
    const auto seconds = [](const char* name, std::int32_t br, std::int32_t param = 0) {
        return cmd::worst_case_seconds(*cmd::command_named(name, param), br);
    };
    EXPECT_LT(seconds("HALLO", 2400), 60);
    EXPECT_LT(seconds("FUNCTION_TEST", 300), 10);
    EXPECT_GT(seconds("SLAVE_SEARCH", 9600), 30 * 60);
    EXPECT_LT(seconds("GET_DATA", 2400, 1), seconds("GET_DATA", 2400, 2));
    EXPECT_LT(seconds("HALLO", 9600), seconds("HALLO", 300));
}

TEST(result_check, judges_every_kind_of_result_document)
{
    const struct {
        const char* document;
        result_state state;
    } cases[] = {
        {"", result_state::incomplete},
        {"{", result_state::incomplete},
        {"{\"ack_response\":\"OK\",\"primAdr\":\"5\"}", result_state::final},
        {"{\"ack_response\":\"OK\",\"primAdr\":\"5\"", result_state::incomplete},
        {"{\"ack_response\":\"OK\",\"primAdr\":\"5\"}}", result_state::incomplete},
        {"{\"data_response\":\"Telegram 12, Receive More\"}", result_state::intermediate},
        {"{\"data_response\":\"No Answer\"}", result_state::final},
        {"{\"data_response\":\"Telegram Invalid\"}", result_state::final},
        {"{\n\t\"slaves\":\n\t[\n\t],\n\t\"progress\":\"\",\n\t\"state\":\"end\"\n}", result_state::final},
        {"{\n\t\"slaves\":\n\t[\n\t],\n\t\"progress\":\"\",\n\t\"state\":\"run\"\n}", result_state::intermediate},
        {"{\n\t\"slaves\":\n\t[\n\t],\n\t\"progress\":\"\",\n\t\"state\":\"en", result_state::incomplete},
        {"{\"telegrams\":\n[\"68 03 03 68 08 01 72 7B 16 \"\n\n]}", result_state::final},
        {"{\"telegrams\":\n[\"68 03 03 68 08 01 72 7B 16 \"\n", result_state::incomplete},
        // Texts are not escaped by the daemon: odd characters inside strings are taken.
        {"{\"records\":[[{\"value\":\"a\tb\\x\", \"unit\":\"°C\"}]]}", result_state::final},
        {"[\"not an object\"]", result_state::incomplete},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(c.state), static_cast<int>(cmd::judge_result(c.document))) << c.document;
}

} // namespace
} // namespace velkor::testing
