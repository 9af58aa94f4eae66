// An exchange keeps to its own answer: from the slave asked, never a late one,
// and never on a line that went away during the command.

#include <array>
#include <deque>
#include <map>

#include <gtest/gtest.h>

#include "link/frames.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

// An RSP_UD from primary address a with the identification (wire order).
bytes rsp_ud(std::uint8_t a, const std::string& identification)
{
    bytes f = hex("68 0F 0F 68 08");
    f.push_back(a);
    f.push_back(0x72);
    for (std::uint8_t b : hex(identification + " 2A 00 00 00 00 16"))
        f.push_back(b);
    for (std::size_t i = 4; i + 2 < f.size(); ++i)
        f[f.size() - 2] = static_cast<std::uint8_t>(f[f.size() - 2] + f[i]);
    return f;
}

const std::string aaa_17 = " 21 04 01 07";  // manufacturer AAA, version 1, medium 7

TEST(answer_owner, only_the_slave_asked_answers)
{
    struct row {
        const char* name;
        std::string selection;  // text, or "mask" and 8 display bytes
        std::uint8_t address;
        std::vector<bytes> answers;  // per try; the scripted bus repeats once
        std::size_t taken;           // index of the answer taken, or answers.size(): none
        const char* logged;
    };
    const bytes ours = rsp_ud(5, "78 56 34 12" + aaa_17);
    const bytes other = rsp_ud(7, "21 43 65 87" + aaa_17);
    bytes broken = ours;
    broken[20] ^= 1;
    const row rows[] = {
        {"own primary address", "", 5, {ours}, 0, nullptr},
        {"another primary address", "", 5, {other, {}}, 2, "answer from primary address 7 does not belong to primary address 5"},
        {"repeat brings the right one", "", 5, {other, ours}, 1, "primary address 7"},
        {"selected slave", "12345678-AAA-1-7", 253, {other, ours}, 1,
         "answer from secondary address 87654321-AAA-1-7 does not belong to secondary address 12345678-AAA-1-7"},
        {"mask with wildcard digits", "mask 12 34 FF FF FF FF FF FF", 253, {ours}, 0, nullptr},
        {"mask of another slave", "mask 30 51 FF FF FF FF FF FF", 253, {ours, {}}, 2,
         "answer from secondary address 12345678-AAA-1-7 does not belong to mask 30 51 FF FF FF FF FF FF"},
        {"medium differs", "mask FF FF FF FF 04 21 FF 04", 253, {ours, {}}, 2, "mask FF FF FF FF 04 21 FF 04"},
        {"test address takes anyone", "", 254, {other}, 0, nullptr},
        {"invalid frame left to the check", "", 5, {broken, broken}, 1, nullptr},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        temp_dir dir;
        log::log_settings log;
        log.directory.assign(dir.path);
        log.size = log.size_dev = 100000;
        scripted_bus line;
        line.log = &log;
        line.repeats = 1;
        for (const bytes& a : r.answers)
            line.answer_any(a);
        link::bus_context bus;
        if (r.selection.starts_with("mask ")) {
            const bytes m = hex(r.selection.substr(5));
            std::array<std::uint8_t, 8> mask{};
            std::copy(m.begin(), m.end(), mask.begin());
            link::build_select(bus, mask);
        } else if (!r.selection.empty()) {
            link::build_select(bus, r.selection);
        }
        link::build_req_ud2(bus, r.address, 1);
        link::transceive_repeating(line, bus);
        EXPECT_EQ(r.taken < r.answers.size() ? to_hex(r.answers[r.taken]) : "", to_hex(bus.received()));
        const std::string main_log = read_file(dir.file("mbusLog"));
        EXPECT_EQ(r.logged != nullptr, main_log.find(r.logged ? r.logged : "LINK:") != std::string::npos) << main_log;
    }
}

// Bytes that arrive at set moments of virtual time, whatever was written; each
// write schedules its scripted answer so many ms after it.
struct late_line final : link::line_io {
    fake_clock& clock;
    std::multimap<std::int64_t, bytes> due;  // by arrival, in µs
    std::deque<std::pair<int, bytes>> answers;
    std::vector<int> written_ms;
    bool present = true;
    bool lost = false;  // a write finds the device gone

    explicit late_line(fake_clock& c) : clock(c) {}
    std::int64_t now() { return clock.monotonic_us(); }
    bool ready() override { return present; }
    void set_speed(int) override {}
    void discard_input() override { due.erase(due.begin(), due.upper_bound(now())); }
    int pending_input() override
    {
        int n = 0;
        for (auto i = due.begin(); i != due.upper_bound(now()); ++i)
            n += static_cast<int>(i->second.size());
        return n;
    }
    int write(std::span<const std::uint8_t> data) override
    {
        written_ms.push_back(static_cast<int>(now() / 1000));
        if (lost)
            return -1;
        if (!answers.empty()) {
            due.emplace(now() + answers.front().first * 1000LL, answers.front().second);
            answers.pop_front();
        }
        return static_cast<int>(data.size());
    }
    int read(std::span<std::uint8_t> buffer) override
    {
        std::size_t n = 0;
        for (auto i = due.begin(); i != due.upper_bound(now()); i = due.erase(i))
            for (std::uint8_t b : i->second)
                buffer[n++] = b;
        return static_cast<int>(n);
    }
    void wait_input(velkor::clock&, int timeout_ms) override
    {
        std::int64_t wake = now() + timeout_ms * 1000LL;
        if (!due.empty() && due.begin()->first < wake)
            wake = std::max(now(), due.begin()->first);
        clock.sleep_ms(static_cast<int>((wake - now() + 999) / 1000));
    }
    int modem_lines(int&) override { return -1; }
    void set_break(bool) override {}
};

struct line_state : ::testing::Test {
    temp_dir dir;
    log::log_settings log;
    fake_clock clock;
    late_line line{clock};
    link::transceiver t{line, clock};
    link::bus_context bus;

    line_state()
    {
        log.directory.assign(dir.path);
        log.size = log.size_dev = 100000;
        t.log = &log;
        t.timing.profile = link::timing_profile::standard;  // 9600 Bd: pause 50 ms, window 135 ms
        bus.bus_name.assign("/dev/ttyS1");
        bus.baud_rate = 9600;
    }
    std::size_t late_entries()
    {
        const std::string log_text = read_file(dir.file("mbusLogDev"));
        std::size_t n = 0;
        for (auto at = log_text.find("LINK: late answer"); at != std::string::npos; at = log_text.find("LINK: late", at + 1))
            ++n;
        return n;
    }
};

TEST_F(line_state, late_answer_is_waited_out_before_the_next_request)
{
    // Waiting at the end of the pause (50 ms), more at 60: quiet from 195 on.
    line.due = {{10000, hex("68 0F")}, {60000, hex("0F 68 08")}};
    line.answers = {{5, hex("E5")}};
    link::build_snd_nke(bus, 5);
    t.transceive(bus);
    EXPECT_EQ(std::vector<int>{195}, line.written_ms);
    EXPECT_EQ("E5", to_hex(bus.received()));
    EXPECT_EQ(1u, late_entries());

    // The echo of a broadcast is no late answer: nothing waits, nothing is logged.
    line.answers = {{1, hex("10 40 FF 3F 16")}, {5, hex("E5")}};
    link::build_snd_nke(bus, link::broadcast_address);
    t.transceive(bus);
    link::build_snd_nke(bus, 5);
    t.transceive(bus);
    EXPECT_EQ(50, line.written_ms[2] - line.written_ms[1]);
    EXPECT_EQ("E5", to_hex(bus.received()));

    // classic waits the same way before its request.
    t.timing.profile = link::timing_profile::classic;
    const int start = static_cast<int>(clock.monotonic_us() / 1000);
    line.due = {{(start + 490) * 1000LL, hex("E5")}};
    link::build_snd_nke(bus, link::broadcast_address);
    t.transceive(bus);
    EXPECT_EQ(start + 500 + 135, line.written_ms.back());  // quiet from the end of the pause
    EXPECT_EQ(2u, late_entries());
}

TEST_F(line_state, answer_that_came_on_a_repeat_lets_the_late_one_pass_first)
{
    // 200 ms late: the first try's answer lands in the repeat's window, the
    // repeat's own answer would land in the next request's.
    const bytes first = rsp_ud(5, "78 56 34 12" + aaa_17);
    const bytes second = rsp_ud(5, "78 56 34 12 21 04 01 04");
    line.answers = {{200, first}, {200, first}, {5, second}};
    t.timing.retries = 2;
    link::build_req_ud2(bus, 5, 1);
    link::transceive_repeating(t, bus);
    EXPECT_EQ(to_hex(first), to_hex(bus.received()));
    link::build_req_ud2(bus, 5, 0);
    link::transceive_repeating(t, bus);
    EXPECT_EQ(to_hex(second), to_hex(bus.received()));
    EXPECT_EQ(1u, late_entries());
}

TEST_F(line_state, line_absent_or_lost_within_a_command_fails_it)
{
    struct row {
        const char* name;
        std::string line;    // per exchange: present, absent, lost while writing
        std::string writes;  // frames out after each exchange
        bool failed;
    };
    const row rows[] = {
        {"there throughout", "pp", "12", false},
        {"absent at first", "app", "000", true},
        {"opened again at the next command's first exchange", "pp", "12", false},
        {"lost, then back", "plp", "122", true},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        t.begin_command();
        line.written_ms.clear();
        for (std::size_t i = 0; i < r.line.size(); ++i) {
            line.present = r.line[i] != 'a';
            line.lost = r.line[i] == 'l';
            link::build_snd_nke(bus, link::broadcast_address);
            link::exchange_once(t, bus);
            EXPECT_EQ(r.writes[i] - '0', static_cast<int>(line.written_ms.size())) << i;
        }
        EXPECT_EQ(r.failed, t.line_failed());
    }
}

} // namespace
} // namespace velkor::testing
