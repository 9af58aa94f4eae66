// velkor-poll's parts without the daemon: configuration, readouts judged and
// keyed, JSON text, discovery classes, and commands through a fake daemon.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "../decode/telegram_builder.h"
#include "control/command_record.h"
#include "daemon_link.h"
#include "ha_discovery.h"
#include "meter_list.h"
#include "meter_reading.h"
#include "poll_config.h"
#include "support/test_support.h"

namespace velkor::poll {
namespace {

using decode_testing::hex_bytes;
using decode_testing::make_telegram;
using testing::temp_dir;
using testing::write_file;

TEST(poll_config, reads_meters_and_refuses_bad_values)
{
    const struct {
        const char* text;
        const char* problem;  // "" when the file is good
    } cases[] = {
        {"meter=30512047-VLK-2-4,name=heat meter=5,name=boiler meter=3051204f-VLK-2-4", ""},
        {"meter=1234", "meter=1234: a secondary address"},
        {"meter=251", "meter=251: a secondary address"},
        {"meter=30512047-VLK-2-4,nam=x", "meter=30512047-VLK-2-4,nam=x: a secondary address"},
        {"meter=30512047-vlk-2-4", "meter=30512047-vlk-2-4: a secondary address"},
        {"meter=1 br=fast", "br=fast: a whole number from 300 to 38400"},
        {"meter=1 interval=0", "interval=0: a whole number from 1"},
        {"meter=1 ha_discovery=2", "ha_discovery=2: a whole number from 0 to 1"},
        {"meter=1 mqtt_prefix=a/+", "mqtt_prefix=a/+: a topic level without # and +"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        temp_dir dir;
        write_file(dir.file("poll.conf"), c.text);
        poll_config config;
        std::vector<std::string> problems;
        EXPECT_EQ(*c.problem == '\0', read_poll_config(dir.file("poll.conf"), config, problems));
        if (*c.problem != '\0') {
            ASSERT_EQ(1u, problems.size());
            EXPECT_EQ(0u, problems[0].find(c.problem)) << problems[0];
        }
    }
    temp_dir dir;
    write_file(dir.file("poll.conf"), cases[0].text);
    poll_config config;
    std::vector<std::string> problems;
    ASSERT_TRUE(read_poll_config(dir.file("poll.conf"), config, problems));
    ASSERT_EQ(3u, config.meters.size());
    EXPECT_EQ("30512047-VLK-2-4", config.meters[0].secondary);
    EXPECT_EQ("heat", config.meters[0].name);
    EXPECT_EQ(5, config.meters[1].primary);
    EXPECT_EQ("boiler", config.meters[1].name);
}

std::vector<telegram_bytes> telegrams(std::initializer_list<const char*> record_areas)
{
    std::vector<telegram_bytes> out;
    for (const char* area : record_areas)
        out.push_back(make_telegram(area));
    return out;
}

TEST(decode_readout, takes_only_whole_readouts_of_the_meter_asked)
{
    auto bad_checksum = telegrams({"0C 06 01 00 00 00"});
    bad_checksum[0][bad_checksum[0].size() - 2] ^= 1;
    const struct {
        std::vector<telegram_bytes> telegrams;
        const char* asked;
        const char* error;  // "" for a good readout
    } cases[] = {
        {telegrams({"0C 06 01 00 00 00"}), "12345678-AAA-1-4", ""},
        {telegrams({"0C 06 01 00 00 00"}), "1234567F-AAA-1-4", ""},  // wildcard digit
        {telegrams({"0C 06 01 00 00 00 1F", "0C 13 01 00 00 00"}), "12345678-AAA-1-4", ""},
        {telegrams({"0C 06 01 00 00 00"}), "87654321-AAA-1-4",
         "telegram 1 comes from 12345678-AAA-1-4, not from 87654321-AAA-1-4"},
        {bad_checksum, "12345678-AAA-1-4", "telegram 1 is no valid answer"},
        {telegrams({"0C 06 01 00 00 00 1F"}), "12345678-AAA-1-4",
         "the readout ends with telegram 1, which announces more"},
        {{}, "12345678-AAA-1-4", "the meter sent no valid telegram"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        reading r;
        decode_readout(c.telegrams, c.asked, r);
        EXPECT_EQ(*c.error == '\0', r.ok);
        EXPECT_EQ(c.error, r.error);
        EXPECT_EQ(r.ok ? c.telegrams.size() : 0u, r.records.size());
    }
}

TEST(decode_readout, keys_name_function_tariff_storage_and_subunit_once_each)
{
    reading r;
    decode_readout(telegrams({"0C 06 01 00 00 00  1C 06 02 00 00 00  8C 10 06 03 00 00 00  4C 06 04 00 00 00"
                              "C4 40 06 05 00 00 00  0C 06 06 00 00 00  0C 78 07 00 00 00  0F 01 AB CD"}),
                   "12345678-AAA-1-4", r);
    ASSERT_TRUE(r.ok) << r.error;
    std::vector<std::string> keys;
    for (const record_out& rec : r.records)
        keys.push_back(rec.key);
    EXPECT_EQ((std::vector<std::string>{"energy", "energy_max", "energy_tariff_1", "energy_storage_1",
                                        "energy_storage_1_subunit_1", "energy_2", "fabrication_no",
                                        "manufacturer_specific"}),
              keys);
    EXPECT_EQ("Energy tariff 1", r.records[2].label);
    EXPECT_EQ("\"AB CD\"", r.records[7].value);
}

TEST(reading_json, escapes_what_json_cannot_hold_and_reports_a_failure_alone)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"plain", "\"plain\""},     {"a\"b\\c", "\"a\\\"b\\\\c\""}, {"line\n", "\"line\\u000a\""},
        {"\xC2\xB0" "C", "\"\xC2\xB0" "C\""}, {"\xFF", "\"\\u00ff\""},       {"\xC2", "\"\\u00c2\""},
    };
    for (const auto& c : cases) {
        std::string s;
        append_json_string(s, c.in);
        EXPECT_EQ(c.out, s);
    }
    reading r;
    r.time = "T";
    r.primary = 5;
    r.error = "no answer";
    EXPECT_EQ("{\"time\":\"T\",\"meter\":null,\"primary\":5,\"ok\":false,\"error\":\"no answer\"}", reading_json(r));
}

TEST(discovery_messages, classes_by_quantity_and_medium_for_current_numbers_only)
{
    using decode::quantity;
    const struct {
        quantity what;
        int medium;
        std::uint64_t storage;
        const char* fragment;  // nullptr: no discovery message
    } cases[] = {
        {quantity::energy, 4, 0, "\"device_class\":\"energy\",\"state_class\":\"total_increasing\""},
        {quantity::volume, 7, 0, "\"device_class\":\"water\",\"state_class\":\"total_increasing\""},
        {quantity::volume, 3, 0, "\"device_class\":\"gas\""},
        {quantity::volume, 4, 0, "\"device_class\":\"volume\""},
        {quantity::flow_temperature, 4, 0, "\"device_class\":\"temperature\",\"state_class\":\"measurement\""},
        {quantity::temperature_difference, 4, 0, "| first).value }}\",\"state_class\":\"measurement\""},  // no device class
        {quantity::on_time, 4, 0, "\"device_class\":\"duration\",\"state_class\":\"total_increasing\""},
        {quantity::time_point, 4, 0, nullptr},
        {quantity::energy, 4, 1, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(decode::quantity_name(c.what));
        reading r;
        r.ok = true;
        r.secondary = "12345678-AAA-1-4";
        r.medium = c.medium;
        record_out rec;
        rec.kind = decode::reading_kind::number;
        rec.what = c.what;
        rec.key = "k";
        rec.block.storage = c.storage;
        r.records.push_back(rec);
        const auto messages = discovery_messages(r, "velkor");
        ASSERT_EQ(c.fragment ? 1u : 0u, messages.size());
        if (c.fragment) {
            EXPECT_EQ("homeassistant/sensor/velkor_12345678_aaa_1_4_k/config", messages[0].topic);
            EXPECT_NE(std::string::npos, messages[0].payload.find(c.fragment)) << messages[0].payload;
        }
    }
}

TEST(targets_of, resolves_primary_addresses_and_adds_what_discover_found_once)
{
    std::vector<found_slave> found;
    ASSERT_FALSE(search_result(R"({"slaves":[],"progress":"","state":"run"})", found));
    ASSERT_TRUE(search_result(R"({"slaves":[{"cnt":"1", "sec_address":"11111111-AAA-1-4", "prim_address":"5"},
        {"cnt":"2", "sec_address":"22222222-AAA-1-7", "prim_address":"0"}],"progress":"","state":"end"})", found));
    poll_config c;
    c.meters = {{"22222222-AAA-1-7", -1, "water"}, {"", 5, "heat"}, {"", 9, "gone"}};
    const auto listed = [](const std::vector<target>& ts) {
        std::string s;
        for (const target& t : ts)
            s += (t.secondary.empty() ? "p" + std::to_string(t.primary) : t.secondary) + "/" + t.name + " ";
        return s;
    };
    EXPECT_EQ("22222222-AAA-1-7/water 11111111-AAA-1-4/heat p9/gone ", listed(targets_of(c, found)));
    c.discover = true;
    c.meters.pop_back();
    c.meters.pop_back();
    EXPECT_EQ("22222222-AAA-1-7/water 11111111-AAA-1-4/ ", listed(targets_of(c, found)));
}

// A daemon that reads two records and answers with the given files.
struct fake_daemon : ::testing::Test {
    temp_dir dir;
    poll_config config;
    daemon_link link;
    std::vector<control::command_record> got;

    void SetUp() override
    {
        config.fifo = dir.file("fifo");
        config.output = dir.file("out");
        config.id_base = 40;
        ::mkdir(config.output.c_str(), 0700);
        ASSERT_EQ(0, ::mkfifo(config.fifo.c_str(), 0600));
        link.config = &config;
    }
    command_outcome run(const char* command_answer, const char* fence_answer, std::string& document)
    {
        std::thread daemon([&] {
            const int fd = ::open(config.fifo.c_str(), O_RDONLY);
            control::command_record r;
            while (got.size() < 2 && ::read(fd, &r, sizeof r) == static_cast<ssize_t>(sizeof r))
                got.push_back(r);
            ::close(fd);
            if (command_answer)
                write_file(dir.file("out/mbus_40"), command_answer);
            if (fence_answer)
                write_file(dir.file("out/mbus_41"), fence_answer);
        });
        const command_outcome outcome = run_fenced(link, "GET_RAW_DATA", "12345678-AAA-1-4", std::chrono::seconds(1),
                                                   document);
        daemon.join();
        return outcome;
    }
};

TEST_F(fake_daemon, a_command_is_done_once_its_fence_is_answered_and_nothing_stale_passes)
{
    const std::string fence = R"({"ack_response":"OK","primAdr":"NO"})";
    std::string document;
    EXPECT_EQ(command_outcome::done, run("{\"telegrams\":[]}", fence.c_str(), document));
    EXPECT_EQ("{\"telegrams\":[]}", document);
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(40, got[0].id);
    EXPECT_EQ("GET_RAW_DATA", std::string(got[0].cmd.data()));
    EXPECT_EQ("12345678-AAA-1-4", std::string(got[0].secAdr.data()));
    EXPECT_EQ(41, got[1].id);
    EXPECT_EQ("FUNCTION_TEST", std::string(got[1].cmd.data()));

    got.clear();  // the document of before is gone: this command wrote none
    EXPECT_EQ(command_outcome::done, run(nullptr, fence.c_str(), document));
    EXPECT_EQ("", document);
    got.clear();
    EXPECT_EQ(command_outcome::timed_out, run(nullptr, nullptr, document));

    ::unlink(config.fifo.c_str());
    write_file(config.fifo, "");  // no FIFO
    EXPECT_EQ(command_outcome::unreachable, run_fenced(link, "GET_RAW_DATA", "", std::chrono::seconds(1), document));
}

} // namespace
} // namespace velkor::poll
