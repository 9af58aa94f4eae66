// The bus file: meters, options and telegrams, and its errors by line.

#include <gtest/gtest.h>

#include <set>

#include "model/bus_file.h"
#include "support/meter_line.h"
#include "support/test_support.h"

namespace velkor::sim {
namespace {

// A 21-byte telegram of meter 12345678-ABC-1-7 at A field 5 with no records.
constexpr const char* small = "68 0F 0F 68 08 05 72 78 56 34 12 43 04 01 07 01 00 00 00 E3 16";

TEST(bus_file, good_file_with_every_option)
{
    const std::string text = std::string("# two meters\n"
                                         "line noise FF 00A5\n"
                                         "meter first   # comment after a keyword\n") +
                             small + "\n"
                                     "\n"
                                     "meter second\n"
                                     "  address 17\n"
                                     "  baud 9600\n"
                                     "  delay 120\n"
                                     "  fault no-data\n"
                                     "  fault bad-checksum 2\n"
                                     "  fault stop-after 3\n"
                                     "  68 0F 0F 68 08 05 72   # split over lines\n"
                                     "  78 56 34 12 43 04 01 07\n"
                                     "  01 00 00 00 E3 16\n"
                                     "  680F0F6808057278563412430401070200 0000E416\r\n"
                                     "line echo\n"
                                     "meter third\n"
                                     "fault silent\n" +
                             small + "\n";
    meter_bus bus;
    parse_error error;
    ASSERT_TRUE(parse_bus_text(text, bus, error)) << describe(error);
    ASSERT_EQ(3u, bus.meters.size());
    const meter& first = bus.meters[0];
    EXPECT_EQ("first", first.name);
    EXPECT_EQ(5, first.primary_address);  // from the A field
    EXPECT_EQ("12345678-ABC-1-7", secondary_text(first.secondary));
    EXPECT_EQ(0u, first.baud_rate);
    const meter& second = bus.meters[1];
    EXPECT_EQ(17, second.primary_address);
    EXPECT_EQ(9600u, second.baud_rate);
    EXPECT_EQ(120, second.delay_ms);
    EXPECT_EQ(-1, first.delay_ms);
    EXPECT_TRUE(second.faults.no_data);
    EXPECT_EQ(2, second.faults.bad_checksum_telegram);
    EXPECT_EQ(3, second.faults.stop_after);
    ASSERT_EQ(2u, second.telegrams.size());
    EXPECT_EQ(2, second.telegrams[1][15]);
    EXPECT_TRUE(bus.meters[2].faults.silent);
    EXPECT_FALSE(bus.meters[2].faults.no_data);
    EXPECT_TRUE(bus.line.echo);
    EXPECT_EQ((byte_string{0xFF, 0x00, 0xA5}), bus.line.noise);

    ASSERT_TRUE(parse_bus_text("# nothing but a comment\n", bus, error));
    EXPECT_TRUE(bus.meters.empty());
}

TEST(bus_file, errors_name_their_line)
{
    const std::string t = small;
    struct case_ {
        std::string text;
        int line;
        const char* message;
    } cases[] = {
        {t + "\n", 1, "before the first \"meter\""},
        {"meter m\n" + t + "\nmeter m\n" + t + "\n", 3, "already used on line 1"},
        {"meter m\n\n" + t + " 00\n", 3, "bytes after the end of a telegram"},
        {"meter m\n" + t.substr(0, 20) + "\n", 2, "telegram ends early: 7 bytes, its L field gives 21"},
        {"meter m\n" + t.substr(0, 20) + "\naddress 3\n", 2, "telegram ends early"},
        {"meter m\n68 0F 0F 68 08 05 72 78 56 34 12 43 04 01 07 01 00 00 00 E9 16\n", 2,
         "checksum is E9, the bytes sum to E3"},
        {"meter m\n68 0F 0F 68 08 05 78 78 56 34 12 43 04 01 07 01 00 00 00 E9 16\n", 2, "CI field 78"},
        {"meter m\n68 0F 0F 68 53 05 72 78 56 34 12 43 04 01 07 01 00 00 00 2E 16\n", 2, "C field 53"},
        {"meter m\n68 0F 0F 68 08 05 72 78 56 34 12 43 04 01 07 01 00 00 00 E3 17\n", 2, "does not end with 16"},
        {"meter m\n68 0F 0E 68\n", 2, "does not start 68 L L 68"},
        {"meter m\n68 03 03 68 08 05 72 7F 16\n", 2, "too small"},
        {"meter m\n10 40 01 41 16\n", 2, "starts with 68, not 10"},
        {"meter m\n68 0G\n", 2, "bad hex \"0G\""},
        {"meter m\n68 0F0\n", 2, "bad hex \"0F0\""},
        {"meter m\n3rd line\n", 2, "bad hex"},
        {"meter m\nadress 5\n", 2, "unknown keyword \"adress\""},
        {"meter m\naddress 251\n" + t + "\n", 2, "0..250"},
        {"meter m\naddress\n", 2, "0..250"},
        {"meter m\nbaud 1000\n", 2, "\"baud\" takes"},
        {"meter m\ndelay -1\n", 2, "\"delay\" takes"},
        {"meter m\ndelay 10001\n", 2, "\"delay\" takes"},
        {"meter m\nfault sleepy\n", 2, "unknown fault"},
        {"line\n", 1, "\"line\" takes echo"},
        {"line noise\n", 1, "\"line\" takes echo"},
        {"line noise F\n", 1, "bad hex \"F\""},
        {"line echo loud\n", 1, "\"line\" takes echo"},
        {"meter m\n" + t.substr(0, 20) + "\nline echo\n", 2, "telegram ends early"},
        {"meter m\nfault stop-after 0\n", 2, "from 1"},
        {"meter m\nfault bad-checksum\n", 2, "from 1"},
        {"meter m\nfault bad-checksum 2\n" + t + "\n", 2, "the meter has 1 telegram"},
        {"meter\n", 1, "one word"},
        {"meter a b\n", 1, "one word"},
        {"meter m\n\nmeter n\n" + t + "\n", 1, "meter \"m\" has no telegram"},
        {"meter m\n68 0F 0F 68 08 FD 72 78 56 34 12 43 04 01 07 01 00 00 00 DB 16\n", 2, "A field 253"},
    };
    for (const auto& c : cases) {
        meter_bus bus;
        parse_error error;
        EXPECT_FALSE(parse_bus_text(c.text, bus, error)) << c.text;
        EXPECT_EQ(c.line, error.line) << c.text << describe(error);
        EXPECT_NE(std::string::npos, error.message.find(c.message)) << c.text << "\n -> " << describe(error);
        EXPECT_EQ("line " + std::to_string(c.line) + ": " + error.message, describe(error));
    }
}

TEST(bus_file, demo_bus_is_three_meters_with_good_telegrams)
{
    meter_bus bus;
    parse_error error;
    ASSERT_TRUE(read_bus_file(VELKOR_SOURCE_DIR "/tools/velkor-sim/examples/demo.bus", bus, error)) << describe(error);
    ASSERT_EQ(3u, bus.meters.size());
    std::string first_digits;
    for (const meter& m : bus.meters) {
        first_digits += secondary_text(m.secondary)[0];
        for (const byte_string& t : m.telegrams) {
            EXPECT_EQ(0x08, t[4]);
            EXPECT_EQ(0x72, t[6]);
        }
    }
    EXPECT_EQ(3u, std::set<char>(first_digits.begin(), first_digits.end()).size()) << first_digits;
    // One meter answers in two telegrams; the first announces the second with DIF 1F.
    const meter& heat = bus.meters[0];
    ASSERT_EQ(2u, heat.telegrams.size());
    EXPECT_EQ(0x1F, heat.telegrams[0][heat.telegrams[0].size() - 3]);

    error = {};
    EXPECT_FALSE(read_bus_file("/nonexistent/demo.bus", bus, error));
    EXPECT_EQ(0, error.line);
    EXPECT_NE(std::string::npos, describe(error).find("/nonexistent/demo.bus"));
}

} // namespace
} // namespace velkor::sim
