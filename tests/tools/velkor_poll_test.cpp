// velkor-poll against the real daemon on the simulated demo bus: its numbers
// agree with the daemon's own GET_DATA texts, and over MQTT a broker holds the
// retained state, availability and discovery of every meter.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cmath>
#include <map>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/document_table.h"
#include "support/process.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

const std::string demo_bus = std::string(VELKOR_SOURCE_DIR) + "/tools/velkor-sim/examples/demo.bus";
const char* const meters[] = {"30512047-VLK-2-4", "52004731-VLK-1-7", "71230964-VLK-3-2"};

struct poll_fixture : ::testing::Test {
    temp_dir dir;
    process sim, daemon;

    void start_sim(const std::string& bus_file)
    {
        sim = process::start({built_program("velkor-sim"), "--bus", bus_file, "--link", dir.file("ttyS-sim"),
                              "--delivery", "whole"},
                             dir.file("sim.out"), dir.file("sim.err"));
        ASSERT_TRUE(eventually(5000, [&] { return read_file(dir.file("sim.out")).find("ready") != std::string::npos; }));
    }
    void SetUp() override
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        start_sim(demo_bus);
        write_file(dir.file("mbus.conf"), "path_input=" + dir.file("fifo") + " path_output=" + dir.file("out") +
                                              " path_mbusLog=" + dir.path + " bus_0=" + dir.file("ttyS-sim") +
                                              " link_timing=standard debug_fifo=1\n");
        daemon = process::start({built_program("velkor"), "--config", dir.file("mbus.conf")}, dir.file("velkor.out"),
                                dir.file("velkor.err"));
        ASSERT_TRUE(eventually(30000, [&] {
            return read_file(dir.file("velkor.out")).find("bereit zum Lesen") != std::string::npos;
        }));
    }
    std::string poll_conf(const std::string& more)
    {
        std::string c = "fifo=" + dir.file("fifo") + " output=" + dir.file("out") + " bus=" + dir.file("ttyS-sim") +
                        " br=9600 id_base=500\n";
        for (const char* m : meters)
            c += std::string("meter=") + m + "\n";
        write_file(dir.file("poll.conf"), c + more);
        return dir.file("poll.conf");
    }
};

// Unit texts of the demo bus in the fixed units, worked out by hand.
bool to_fixed_unit(const std::string& unit_text, double& factor, std::string& unit)
{
    static const std::map<std::string, std::pair<double, std::string>> units = {
        {"Wh", {1e-3, "kWh"}}, {"m3", {1, "m\xC2\xB3"}}, {"W", {1, "W"}}, {"m3/h", {1, "m\xC2\xB3/h"}},
        {"\xC2\xB0" "C", {1, "\xC2\xB0" "C"}}, {"K", {1, "K"}}, {"hour", {3600, "s"}}, {"days", {86400, "s"}},
        {"V", {1, "V"}}, {"A", {1, "A"}}};
    std::istringstream words(unit_text);
    std::string first, second;
    words >> first >> second;
    factor = 1;
    if (!second.empty())
        factor = std::stod(first);
    const auto at = units.find(second.empty() ? first : second);
    if (at == units.end())
        return false;
    factor *= at->second.first;
    unit = at->second.second;
    return true;
}

// "01.12.25 08:30" -> "2025-12-01T08:30"
std::string iso(const std::string& d)
{
    std::string s = "20" + d.substr(6, 2) + "-" + d.substr(3, 2) + "-" + d.substr(0, 2);
    return d.size() > 8 ? s + "T" + d.substr(9) : s;
}

TEST_F(poll_fixture, numbers_agree_with_the_daemons_get_data_texts)
{
    auto poll = process::start({built_program("velkor-poll"), "--config", poll_conf("meter=99999999-VLK-1-1\n"),
                                "--once"},
                               dir.file("poll.out"), dir.file("poll.err"));
    ASSERT_TRUE(poll.wait(60000));
    EXPECT_EQ(1, poll.status) << "a meter failed";
    EXPECT_NE(std::string::npos,
              poll.out().find("\"meter\":\"99999999-VLK-1-1\",\"ok\":false,\"error\":\"no answer\"}\n"));
    std::istringstream lines(poll.out());
    std::string line;
    int id = 1;
    for (const char* meter : meters) {
        SCOPED_TRACE(meter);
        ASSERT_TRUE(std::getline(lines, line));
        tools::json_value reading, data;
        ASSERT_TRUE(tools::parse_document(line, reading)) << line;
        auto cmd = process::start({built_program("velkor-cmd"), "--fifo", dir.file("fifo"), "--bus",
                                   dir.file("ttyS-sim"), "--br", "9600", "--sec", meter, "--id",
                                   std::to_string(id++), "--out", dir.file("out"), "GET_DATA"},
                                  dir.file("cmd.out"), dir.file("cmd.err"));
        ASSERT_TRUE(cmd.wait(60000));
        ASSERT_TRUE(tools::parse_document(cmd.out(), data)) << cmd.err();

        const auto& got = reading.member("records")->members;
        std::size_t next = 0;
        for (const auto& [unused, telegram] : data.member("records")->members) {
            for (const auto& [unused2, record] : telegram.members) {
                const std::string descriptor = record.member("descriptor")->content;
                const std::string value = record.member("value")->content;
                if (descriptor == "telegram end")
                    continue;
                SCOPED_TRACE(descriptor + " " + value + " " + record.member("unit")->content);
                ASSERT_LT(next, got.size());
                const tools::json_value& number = got[next++].second;
                double factor;
                std::string unit;
                if (descriptor == "Time Point") {
                    EXPECT_EQ(iso(value), number.member("value")->content);
                } else if (to_fixed_unit(record.member("unit")->content, factor, unit)) {
                    const double expected = std::stod(value) * factor;
                    EXPECT_NEAR(expected, std::stod(number.member("value")->content), 1e-9 * std::fabs(expected));
                    EXPECT_EQ(unit, number.member("unit")->content);
                } else {
                    EXPECT_EQ(value, number.member("value")->content);
                }
            }
        }
        EXPECT_EQ(got.size(), next);
    }
}

int free_port()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(s);
    return ntohs(a.sin_port);
}

TEST_F(poll_fixture, publishes_retained_state_availability_and_discovery_and_a_silent_meter_goes_offline)
{
#ifndef VELKOR_HAVE_MQTT
    GTEST_SKIP() << "velkor-poll is built without MQTT (libmosquitto-dev missing)";
#endif
    if (::access("/usr/sbin/mosquitto", X_OK) != 0 || ::access("/usr/bin/mosquitto_sub", X_OK) != 0)
        GTEST_SKIP() << "the mosquitto broker or mosquitto_sub is missing (Debian mosquitto, mosquitto-clients)";
    const std::string port = std::to_string(free_port());
    write_file(dir.file("broker.conf"), "listener " + port + " 127.0.0.1\nallow_anonymous true\npersistence false\n");
    auto broker = process::start({"/usr/sbin/mosquitto", "-c", dir.file("broker.conf")}, dir.file("broker.out"),
                                 dir.file("broker.err"));
    const std::string heat = "velkor/30512047-VLK-2-4/", water = "velkor/52004731-VLK-1-7/";
    const auto listen = [&](const char* name) {
        return process::start({"/usr/bin/mosquitto_sub", "-p", port, "-t", "#", "-F", "%r %t %p"}, dir.file(name),
                              dir.file("sub.err"));
    };
    // What a subscriber got last under each topic, with its retain flag in front.
    const auto latest = [&](const char* name) {
        std::map<std::string, std::string> by_topic;
        std::istringstream in(read_file(dir.file(name)));
        for (std::string l; std::getline(in, l);) {
            const std::size_t topic_end = l.find(' ', 2);
            if (topic_end != std::string::npos)
                by_topic[l.substr(2, topic_end - 2)] = l.substr(0, 1) + " " + l.substr(topic_end + 1);
        }
        return by_topic;
    };
    constexpr std::size_t topics = 1 + 3 * 2 + 17;  // status, state and availability per meter, discovery
    ASSERT_TRUE(eventually(10000, [&] { return broker.err().find(" running") != std::string::npos; }));
    auto early = listen("early.sub");
    auto poll = process::start({built_program("velkor-poll"), "--config",
                                poll_conf("interval=1 mqtt_host=127.0.0.1 mqtt_port=" + port + "\n")},
                               dir.file("poll.out"), dir.file("poll.err"));
    ASSERT_TRUE(eventually(30000, [&] { return latest("early.sub").size() >= topics; })) << poll.err();

    // A subscriber that comes after the first cycle gets it all retained.
    auto late = listen("late.sub");
    std::map<std::string, std::string> got;
    ASSERT_TRUE(eventually(10000, [&] { return (got = latest("late.sub")).size() >= topics; }));
    EXPECT_EQ("1 online", got["velkor/status"]);
    EXPECT_EQ("1 online", got[heat + "availability"]);
    EXPECT_NE(std::string::npos, got[heat + "state"].find("{\"key\":\"energy\",\"quantity\":\"energy\",\"value\":17342,"
                                                           "\"unit\":\"kWh\""));
    const std::string energy = got["homeassistant/sensor/velkor_30512047_vlk_2_4_energy/config"];
    for (const char* member : {"1 {\"name\":\"Energy\"", "\"device_class\":\"energy\"", "\"state_class\":\"total_increasing\"",
                               "\"unit_of_measurement\":\"kWh\"", "\"state_topic\":\"velkor/30512047-VLK-2-4/state\"",
                               "{\"topic\":\"velkor/30512047-VLK-2-4/availability\"}", "\"manufacturer\":\"VLK\"",
                               "\"model\":\"heat meter, version 2\""})
        EXPECT_NE(std::string::npos, energy.find(member)) << member << " in " << energy;
    EXPECT_NE(std::string::npos,
              got["homeassistant/sensor/velkor_52004731_vlk_1_7_volume/config"].find("\"device_class\":\"water\""));
    EXPECT_NE(std::string::npos, got["homeassistant/sensor/velkor_30512047_vlk_2_4_flow_temperature/config"].find(
                                     "\"device_class\":\"temperature\",\"state_class\":\"measurement\""));

    // The water meter leaves the bus: a new simulator on the same line without it.
    sim.stop();
    std::string bus = read_file(demo_bus);
    bus.erase(bus.find("meter water"), bus.find("meter electricity") - bus.find("meter water"));
    write_file(dir.file("two.bus"), bus);
    start_sim(dir.file("two.bus"));
    EXPECT_TRUE(eventually(30000, [&] { return latest("late.sub")[water + "availability"] == "0 offline"; }))
        << poll.err();
    // A readout the restart cut short fails; the next cycle finds the heat meter again.
    EXPECT_TRUE(eventually(30000, [&] { return latest("late.sub")[heat + "availability"].substr(2) == "online"; }));

    // A broker that comes back empty gets state and availability again at once.
    broker.stop();
    broker = process::start({"/usr/sbin/mosquitto", "-c", dir.file("broker.conf")}, dir.file("broker.out"),
                            dir.file("broker2.err"));
    ASSERT_TRUE(eventually(10000, [&] { return broker.err().find(" running") != std::string::npos; }));
    auto again = listen("again.sub");
    EXPECT_TRUE(eventually(30000, [&] {
        const auto m = latest("again.sub");
        return m.count(heat + "state") && m.count("velkor/status") && m.count(water + "availability");
    })) << poll.err();

    poll.stop();
    EXPECT_EQ(0, poll.status);
    EXPECT_TRUE(eventually(5000, [&] { return latest("late.sub")["velkor/status"] == "0 offline"; }));
}

} // namespace
} // namespace velkor::testing
