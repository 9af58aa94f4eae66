#include "link/checks.h"

#include <gtest/gtest.h>

#include "base/trace.h"
#include "support/fake_bus.h"

namespace velkor::link {
namespace {

using testing::bytes;
using testing::hex;

bus_context answer(const bytes& data)
{
    bus_context bus;
    std::copy(data.begin(), data.end(), bus.receive_buffer.begin());
    bus.receive_length = static_cast<std::int32_t>(data.size());
    return bus;
}

// A correct RSP_UD: 68 0F 0F 68 08 05 72, secondary address, access 2A,
// status 00, signature 00 00, checksum, 16.
bytes good_frame()
{
    bytes f = hex("68 0F 0F 68 08 05 72 78 56 34 12 21 04 01 07 2A 00 00 00 00 16");
    std::uint8_t sum = 0;
    for (std::size_t i = 4; i + 2 < f.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + f[i]);
    f[f.size() - 2] = sum;
    return f;
}

struct traced {
    traced() { trace::encode = 1; }
    ~traced() { trace::encode = 0; }
};

std::string messages_of(const bus_context& bus, int& result)
{
    traced on;
    ::testing::internal::CaptureStdout();
    result = check_long_frame(bus);
    return ::testing::internal::GetCapturedStdout();
}

const std::string header = "CHECK_UD2: Error in header\n";
const std::string checksum = "CHECK_UD2: Error in check sum\n";
const std::string end_byte = "CHECK_UD2: Error in end-byte (0x16)\n";
const std::string length = "CHECK_UD2: Error in telegram length\n";
const std::string with_errors = "CHECK_UD2: MBus-Telegram received with errors\n";

TEST(checks, ack)
{
    const struct {
        const char* answer;
        ack result;
    } cases[] = {{"", ack::none},       {"E5", ack::ok},        {"E5 E5", ack::collision},
                 {"E4", ack::collision}, {"10", ack::collision}, {"E5 00", ack::collision}};
    for (const auto& c : cases)
        EXPECT_EQ(c.result, check_ack(answer(hex(c.answer)))) << c.answer;
}

TEST(checks, long_frame_cases)
{
    struct frame_case {
        const char* name;
        bytes frame;
        int result;
        std::string messages;
    };
    auto changed = [](std::size_t at, std::uint8_t value) {
        bytes f = good_frame();
        f[at] = value;
        return f;
    };
    auto with_checksum = [](bytes f) {
        std::uint8_t sum = 0;
        for (std::size_t i = 4; i + 2 < f.size(); ++i)
            sum = static_cast<std::uint8_t>(sum + f[i]);
        f[f.size() - 2] = sum;
        return f;
    };
    bytes extra = good_frame();
    extra.push_back(0x00);
    bytes bad_sum_and_end = good_frame();
    bad_sum_and_end[bad_sum_and_end.size() - 2] ^= 0x01;
    bad_sum_and_end.back() = 0x17;

    const frame_case cases[] = {
        {"valid", good_frame(), 1, ""},
        {"smallest valid", hex("68 03 03 68 08 05 72 7F 16"), 1, ""},
        {"nothing", {}, 0, "CHECK_UD2: MBus-Telegram dont received\n"},
        {"C 0x18", with_checksum(changed(4, 0x18)), 0, header + with_errors},
        {"C 0x28", with_checksum(changed(4, 0x28)), 0, header + with_errors},
        {"CI 0x76", with_checksum(changed(6, 0x76)), 0, header + with_errors},
        {"CI 0x78", with_checksum(changed(6, 0x78)), 0, header + with_errors},
        {"second start byte", with_checksum(changed(3, 0x69)), 0, header + with_errors},
        {"unequal L", with_checksum(changed(2, 0x0E)), 0, header + with_errors},
        {"L too large", with_checksum(hex("68 10 10 68 08 05 72 78 56 34 12 21 04 01 07 2A 00 00 00 00 16")), 0,
         length + with_errors},
        {"wrong checksum and end byte", bad_sum_and_end, 0, checksum + end_byte + with_errors},
        {"one extra byte", extra, 0, checksum + end_byte + length + with_errors},
        {"single E5", hex("E5"), 0, header + length + with_errors},
        {"two bytes", hex("68 03"), 0, header + length + with_errors},
        {"header only", hex("68 03 03 68 08 05 72"), 0, length + with_errors},
        {"eight bytes", hex("68 02 02 68 08 05 72 7F"), 0, length + with_errors},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int result = -2;
        EXPECT_EQ(c.messages, messages_of(answer(c.frame), result));
        EXPECT_EQ(c.result, result);
    }
}

TEST(checks, short_answer_never_reads_past_what_arrived)
{
    // Stale bytes behind a short answer would complete a valid frame if read.
    bus_context bus = answer(hex("68 03 03 68 08 05 72 7F 16"));
    for (std::int32_t n = 1; n <= 8; ++n) {
        bus.receive_length = n;
        EXPECT_FALSE(check_long_frame(bus)) << n;
    }
}

TEST(checks, receive_length_beyond_the_buffer_is_refused)
{
    bytes big(bus_buffer_size, 0x00);
    bus_context bus = answer(big);
    const bytes head = hex("68 FA FA 68 08 05 72");
    std::copy(head.begin(), head.end(), bus.receive_buffer.begin());
    bus.receive_length = static_cast<std::int32_t>(bus_buffer_size) + 100;
    int result = -2;
    EXPECT_EQ(length + with_errors, messages_of(bus, result));
    EXPECT_EQ(0, result);
}

TEST(checks, silent_without_trace)
{
    trace::encode = 0;
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(check_long_frame(answer(hex("E5"))));
    EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
}

} // namespace
} // namespace velkor::link
