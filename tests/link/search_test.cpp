#include "link/search.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "base/trace.h"
#include "decode/header.h"
#include "link/frames.h"
#include "support/fake_bus.h"

namespace velkor::link {
namespace {

using testing::bytes;
using testing::hex;

// A slave on the played bus, by its secondary address text.
struct slave {
    std::string address;
    std::uint8_t primary = 5;
    bool sends_data = true;
    bool damaged_first = false;  // garbles its first data answer
};

std::uint8_t sum_from(const bytes& f, std::size_t first)
{
    std::uint8_t sum = 0;
    for (std::size_t i = first; i + 2 < f.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + f[i]);
    return sum;
}

bytes rsp_ud(const slave& s)
{
    std::array<std::uint8_t, 8> wire{};
    decode::secondary_address_to_bytes(s.address, wire);
    bytes f = hex("68 0F 0F 68 08");
    f.push_back(s.primary);
    f.push_back(0x72);
    f.insert(f.end(), wire.begin(), wire.end());
    for (auto b : hex("2A 00 00 00 00 16"))
        f.push_back(b);
    f[f.size() - 2] = sum_from(f, 4);
    return f;
}

// Selection mask (wire order, from a select frame) against a slave's address:
// nibble F in the identification number and byte FF elsewhere match anything.
bool matches(std::span<const std::uint8_t> mask, const std::array<std::uint8_t, 8>& wire)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const int nibbles[2][2] = {{mask[i] >> 4, wire[i] >> 4}, {mask[i] & 0x0F, wire[i] & 0x0F}};
        for (const auto& n : nibbles)
            if (n[0] != 0xF && n[0] != n[1])
                return false;
    }
    for (std::size_t i = 4; i < 8; ++i)
        if (mask[i] != 0xFF && mask[i] != wire[i])
            return false;
    return true;
}

struct played_bus {
    std::vector<slave> slaves;
    std::vector<bool> selected;
    std::vector<int> data_answers;
    int data_requests = 0;

    bytes answer(std::span<const std::uint8_t> frame)
    {
        if (frame.size() == 17 && frame[0] == 0x68 && frame[6] == 0x52) {
            int count = 0;
            for (std::size_t i = 0; i < slaves.size(); ++i) {
                std::array<std::uint8_t, 8> wire{};
                decode::secondary_address_to_bytes(slaves[i].address, wire);
                selected[i] = matches(frame.subspan(7, 8), wire);
                count += selected[i] ? 1 : 0;
            }
            return count == 0 ? bytes{} : count == 1 ? hex("E5") : hex("E5 E5 F7");
        }
        if (frame.size() == 5 && frame[0] == 0x10 && frame[1] == 0x7B && frame[2] == selected_address) {
            ++data_requests;
            std::vector<std::size_t> talking;
            for (std::size_t i = 0; i < slaves.size(); ++i)
                if (selected[i] && slaves[i].sends_data)
                    talking.push_back(i);
            if (talking.size() > 1)
                return hex("68 0F 68 0F 08 72 00 16");
            if (talking.empty())
                return {};
            const std::size_t i = talking.front();
            bytes f = rsp_ud(slaves[i]);
            if (data_answers[i]++ == 0 && slaves[i].damaged_first)
                f[f.size() - 2] ^= 0xFF;
            return f;
        }
        ADD_FAILURE() << "unexpected request " << testing::to_hex(frame);
        return {};
    }
};

struct search_run {
    std::vector<std::string> probes;  // identification part of each mask, "1FFFFFFF"
    std::vector<std::string> masks;
    std::vector<std::string> found;   // secondary address text of each slave reported
    std::vector<std::string> found_masks;
    std::vector<int> sleeps;
    int data_requests = 0;
    int last_result = -1;
    std::string output;
};

struct search_rig {
    played_bus played;
    testing::scripted_bus bus_line;
    testing::fake_clock clock;
    search_state state;
    bus_context bus;
    bool start = true;
    search_run run;

    explicit search_rig(std::vector<slave> slaves)
    {
        played.slaves = std::move(slaves);
        played.selected.assign(played.slaves.size(), false);
        played.data_answers.assign(played.slaves.size(), 0);
        bus_line.responder = [this](std::span<const std::uint8_t> f) { return played.answer(f); };
    }

    int step()
    {
        std::array<std::uint8_t, 8> mask{};
        const int rc = search_step(state, start, bus, bus_line, clock, mask);
        char id[9];
        std::snprintf(id, sizeof id, "%02X%02X%02X%02X", mask[0], mask[1], mask[2], mask[3]);
        run.probes.push_back(id);
        run.masks.push_back(testing::to_hex(mask));
        if (bus.receive_length != 0) {
            text<32> secondary, primary;
            decode::render_secondary_address(bus.received(), secondary, primary);
            run.found.emplace_back(secondary.view());
            run.found_masks.push_back(run.masks.back());
        }
        run.last_result = rc;
        return rc;
    }

    // Steps until the search is over (bounded, in case it never ends).
    search_run& to_the_end(bool traced = false)
    {
        trace::encode = traced ? 1 : 0;
        if (traced)
            ::testing::internal::CaptureStdout();
        for (int n = 0; n < 20000 && step() == 1; ++n) {
        }
        if (traced)
            run.output = ::testing::internal::GetCapturedStdout();
        trace::encode = 0;
        run.sleeps = clock.taken();
        run.data_requests = played.data_requests;
        return run;
    }
};

std::vector<std::string> first_digits(char from, char to)
{
    std::vector<std::string> ids;
    for (char d = from; d <= to; ++d)
        ids.push_back(std::string(1, d) + "FFFFFFF");
    return ids;
}

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(search, empty_bus_takes_ten_probes)
{
    search_rig rig({});
    const auto& run = rig.to_the_end(true);
    EXPECT_EQ(first_digits('0', '9'), run.probes);
    EXPECT_EQ("0F FF FF FF FF FF FF FF", run.masks.front());
    EXPECT_EQ("9F FF FF FF FF FF FF FF", run.masks.back());
    EXPECT_TRUE(run.found.empty());
    EXPECT_TRUE(run.sleeps.empty());
    EXPECT_EQ(0, run.last_result);
    EXPECT_TRUE(run.output.starts_with("slave search started\n")) << run.output;
    EXPECT_TRUE(run.output.ends_with("slave search finished\n")) << run.output;
    for (auto mode : rig.bus_line.answer_modes)
        EXPECT_EQ(answer_mode::ack, mode);
}

TEST(search, single_slave_found_without_descent)
{
    search_rig rig({{"12345678-AAA-1-7"}});
    const auto& run = rig.to_the_end(true);
    EXPECT_EQ(first_digits('0', '9'), run.probes);
    EXPECT_EQ(std::vector<std::string>{"12345678-AAA-1-7"}, run.found);
    EXPECT_EQ(std::vector<std::string>{"1F FF FF FF FF FF FF FF"}, run.found_masks);
    EXPECT_EQ(1, run.data_requests);
    EXPECT_TRUE(run.sleeps.empty());
    EXPECT_TRUE(contains(run.output, "stat = 1     err = 0\nfound slave\t12345678-AAA-1-7\t5\n")) << run.output;
}

TEST(search, damaged_first_answer_is_requested_again)
{
    slave s{"12345678-AAA-1-7"};
    s.damaged_first = true;
    search_rig rig({s});
    const auto& run = rig.to_the_end();
    EXPECT_EQ(first_digits('0', '9'), run.probes);
    EXPECT_EQ(std::vector<std::string>{"12345678-AAA-1-7"}, run.found);
    EXPECT_EQ(2, run.data_requests);
    EXPECT_EQ("10 7B FD 78 16", testing::to_hex(rig.bus_line.sent[3]));
    EXPECT_EQ("10 7B FD 78 16", testing::to_hex(rig.bus_line.sent[2]));
}

TEST(search, collision_descends_one_digit)
{
    search_rig rig({{"12345678-AAA-1-7", 1}, {"19999999-AAA-1-7", 2}});
    const auto& run = rig.to_the_end(true);
    std::vector<std::string> second_level;
    for (char d = '0'; d <= '9'; ++d)
        second_level.push_back(std::string("1") + d + "FFFFFF");
    EXPECT_EQ(joined({first_digits('0', '1'), second_level, first_digits('2', '9')}), run.probes);
    EXPECT_EQ((std::vector<std::string>{"12345678-AAA-1-7", "19999999-AAA-1-7"}), run.found);
    EXPECT_EQ((std::vector<std::string>{"12 FF FF FF FF FF FF FF", "19 FF FF FF FF FF FF FF"}), run.found_masks);
    EXPECT_EQ(std::vector<int>{1000}, run.sleeps);
    EXPECT_TRUE(contains(run.output, "stat = 2     err = 1\n")) << run.output;
    EXPECT_TRUE(run.output.ends_with("slave search finished\n"));
}

TEST(search, same_identification_told_apart_by_manufacturer)
{
    const struct {
        const char* name;
        std::vector<slave> slaves;
        std::vector<std::string> found_masks;
        std::size_t collisions;
    } cases[] = {
        {"manufacturer high byte",
         {{"12345678-AAA-1-7"}, {"12345678-CBI-1-7"}},
         {"12 34 56 78 04 FF FF FF", "12 34 56 78 0C FF FF FF"},
         8},
        {"manufacturer low byte",
         {{"12345678-AAB-1-7"}, {"12345678-AAA-1-7"}},
         {"12 34 56 78 04 21 FF FF", "12 34 56 78 04 22 FF FF"},
         9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        search_rig rig(c.slaves);
        const auto& run = rig.to_the_end();
        EXPECT_EQ(c.found_masks, run.found_masks);
        EXPECT_EQ(2u, run.found.size());
        EXPECT_EQ(c.collisions, run.sleeps.size());
        EXPECT_EQ(0, run.last_result);
        EXPECT_EQ("9FFFFFFF", run.probes.back());
    }
}

TEST(search, unresolvable_address_does_not_end_the_search)
{
    slave silent{"12345678-AAA-1-7"};
    silent.sends_data = false;
    const struct {
        const char* name;
        std::vector<slave> slaves;
        std::vector<std::string> found;
    } cases[] = {
        {"silent slave beside a higher one", {silent, {"12345679-AAA-1-7"}}, {"12345679-AAA-1-7"}},
        {"twins and a later slave",
         {{"12345678-AAA-1-7"}, {"12345678-AAA-1-7"}, {"30000000-CBI-2-4"}},
         {"30000000-CBI-2-4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        search_rig rig(c.slaves);
        const auto& run = rig.to_the_end(true);
        EXPECT_EQ(c.found, run.found);
        EXPECT_EQ(0, run.last_result);
        EXPECT_EQ("9FFFFFFF", run.probes.back());
        // Seven collisions down to 1234567F, then one failed step at each of positions 7 to 11.
        EXPECT_EQ(12u, run.sleeps.size());
        EXPECT_TRUE(run.output.ends_with("slave search finished\n"));
        const std::string twins = "2 Slaves mit gleicher Sekundaeradresse gefunden!!\n";
        const auto at = run.output.find(twins);
        EXPECT_NE(std::string::npos, at);
        EXPECT_EQ(std::string::npos, run.output.find(twins, at + 1)) << "reported once";
        // The whole address was probed before the message.
        EXPECT_NE(run.masks.end(), std::find(run.masks.begin(), run.masks.end(), "12 34 56 78 04 21 01 07"));
    }
}

TEST(search, start_flag_restarts_the_walk)
{
    search_rig rig({{"12345678-AAA-1-7"}, {"19999999-AAA-1-7"}});
    for (int i = 0; i < 4; ++i)
        rig.step();
    EXPECT_EQ((std::vector<std::string>{"0FFFFFFF", "1FFFFFFF", "10FFFFFF", "11FFFFFF"}), rig.run.probes);
    rig.start = true;
    rig.step();
    EXPECT_EQ(0, rig.start);
    rig.step();
    rig.step();
    EXPECT_EQ((std::vector<std::string>{"0FFFFFFF", "1FFFFFFF", "10FFFFFF"}),
              std::vector<std::string>(rig.run.probes.begin() + 4, rig.run.probes.end()));
    EXPECT_EQ("0F FF FF FF FF FF FF FF", rig.run.masks[4]);
}

} // namespace
} // namespace velkor::link
