// The real daemon on a pseudo-terminal with simulated meters: records go into
// its FIFO, answers come back as result files and log entries.

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "control/command_record.h"
#include "support/process.h"
#include "support/test_support.h"

namespace velkor::testing {

namespace {

const std::string heat = "30512047-VLK-2-4";  // two telegrams, primary address 1

struct end_to_end : ::testing::Test {
    temp_dir dir;
    process sim;
    process daemon;
    std::string link_config;  // further configuration keys

    void SetUp() override
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        sim = process::start({built_program("velkor-sim"), "--bus",
                              std::string(VELKOR_SOURCE_DIR) + "/tools/velkor-sim/examples/demo.bus", "--link",
                              dir.file("ttyS-sim"), "--log", dir.file("sim.log")},
                             dir.file("sim.out"), dir.file("sim.err"));
        ASSERT_TRUE(eventually(5000, [&] { return read_file(dir.file("sim.out")).find("ready") != std::string::npos; }));
        write_file(dir.file("mbus.conf"), "path_input=" + dir.file("fifo") + " path_output=" + dir.file("out") +
                                              "\npath_mbusLog=" + dir.path + " log_size=100000 log_size_dev=100000\n" +
                                              "bus_0=" + dir.file("ttyS-sim") + " primary_start=20 debug_fifo=1\n" + link_config);
        daemon = process::start({built_program("velkor"), "--config", dir.file("mbus.conf")}, dir.file("velkor.out"),
                                dir.file("velkor.err"));
        // Records written while the daemon drains the FIFO at start are thrown
        // away: send only once it waits for clients.
        ASSERT_TRUE(eventually(30000, [&] {
            return read_file(dir.file("velkor.out")).find("bereit zum Lesen") != std::string::npos;
        }));
    }

    void send(const std::string& cmd, int id, const std::string& sec = heat, int param = 0)
    {
        control::command_record r;
        const std::string bus = dir.file("ttyS-sim");
        std::memcpy(r.bus.data(), bus.data(), bus.size());
        std::memcpy(r.cmd.data(), cmd.data(), std::min(cmd.size(), r.cmd.size()));
        std::memcpy(r.secAdr.data(), sec.data(), sec.size());
        r.id = id;
        r.br = 2400;  // the longer answer time-out of this rate tolerates a loaded or emulated machine
        r.param = param;
        const int fd = ::open(dir.file("fifo").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(332, ::write(fd, &r, sizeof r));
        ::close(fd);
    }

    // The result file once it holds a final document (one that ends in "}"
    // and is not a progress answer).
    std::string await(int id, const std::string& must_hold = "")
    {
        const std::string path = dir.file("out/mbus_" + std::to_string(id));
        std::string content;
        eventually(30000, [&] {
            content = read_file(path);
            return !content.empty() && content.back() == '}' && content.find("Receive More") == std::string::npos &&
                   content.find(must_hold) != std::string::npos;
        });
        return content;
    }

    // The daemon logs after it has published the result: wait for the line.
    bool logged(const std::string& file, const std::string& line)
    {
        return eventually(30000, [&] { return read_file(dir.file(file)).find(line) != std::string::npos; });
    }
};

struct end_to_end_standard : end_to_end {
    end_to_end_standard() { link_config = "link_timing=standard debug_mbus_transceiver=1\n"; }
};

} // namespace

TEST_F(end_to_end, ReadsAMultiTelegramMeterAndDecodesItsRawTelegramsAlike)
{
    send("GET_DATA", 1);
    const std::string data = await(1);
    EXPECT_NE(std::string::npos, data.find("\"mbus_id\":\"" + heat + "\"")) << data;
    EXPECT_NE(std::string::npos, data.find("\"tel\":\"2\", \"rec\":\"5\""));
    EXPECT_TRUE(logged("mbusLogDev", "GET_DATA: got 2 data-telegram(s) from slave " + heat));

    send("GET_RAW_DATA", 2);
    const std::string raw = await(2);
    write_file(dir.file("raw"), raw);
    auto decode = process::start({built_program("velkor-decode"), dir.file("raw")}, dir.file("decode.out"),
                                 dir.file("decode.err"));
    ASSERT_TRUE(decode.wait(10000));
    ASSERT_EQ(0, decode.status) << decode.err();
    const auto records = [](const std::string& document) { return document.substr(document.find("\"records\"")); };
    EXPECT_EQ(records(data) + "\n", records(decode.out()));
}

TEST_F(end_to_end, GivesASlaveAPrimaryAddressAndReachesItThere)
{
    send("SET_PRIMARY_ADDRESS", 0);
    send("HALLO", 3);
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"20"})", await(3));
    send("GET_ADDRESS_LIST", 4);
    EXPECT_NE(std::string::npos, await(4, "end").find("\"sec_address\":\"" + heat + "\", \"prim_address\":\"20\""));
    EXPECT_TRUE(logged("mbusLog", "SET_PRIMARY_ADDRESS: set slave " + heat + " to address 20"));
    // The meter itself answers at its new address now.
    EXPECT_TRUE(logged("sim.log", "10 40 14 54 16"));
}

TEST_F(end_to_end, UnavailableSlaveAndFunctionTest)
{
    send("HALLO_EXT", 5, "99999999-VLK-1-1");
    EXPECT_EQ(R"({"ack_response":"No Answer","primAdr":"NO"})", await(5));
    send("FUNCTION_TEST", 6);
    EXPECT_EQ(R"({"ack_response":"OK","primAdr":"NO"})", await(6));
    EXPECT_TRUE(logged("mbusLog", "HALLO_EXT: slave with address 99999999-VLK-1-1 not available"));
}

TEST_F(end_to_end_standard, SearchesTheBusAndReadsAMeterInTheAnswerWindows)
{
    send("SLAVE_SEARCH", 7);
    const std::string slaves = await(7, "end");
    for (const char* meter : {"30512047-VLK-2-4", "52004731-VLK-1-7", "71230964-VLK-3-2"})
        EXPECT_NE(std::string::npos, slaves.find(meter)) << slaves;
    send("GET_DATA", 8);
    EXPECT_NE(std::string::npos, await(8).find("\"tel\":\"2\", \"rec\":\"5\""));
    send("HALLO_EXT", 9, "99999999-VLK-1-1");
    EXPECT_EQ(R"({"ack_response":"No Answer","primAdr":"NO"})", await(9));

    const std::string trace = read_file(dir.file("velkor.out"));
    EXPECT_NE(std::string::npos, trace.find("link timing standard: pause 50 ms, margin 50 ms, retries 2\n"));
    EXPECT_NE(std::string::npos, trace.find("window = 238 ms\n"));  // 2400 Bd
    EXPECT_NE(std::string::npos, trace.find("repeat 2 of 2\n"));     // the absent slave
    EXPECT_EQ(std::string::npos, trace.find("timeout = ")) << "a classic exchange";
}

} // namespace velkor::testing
