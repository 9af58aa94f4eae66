#include <gtest/gtest.h>

#include "base/convert.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor {

namespace {

std::string decode_text(std::string_view in, int* status = nullptr)
{
    std::array<std::uint8_t, 64> out{};
    int count = -1;
    const int rc = conv::hex_text_to_bytes(out, count, in);
    if (status)
        *status = rc;
    return testing::to_hex(std::span(out).first(static_cast<std::size_t>(count)));
}

} // namespace

TEST(HexString, TwoDigitsAndABlankPerByte)
{
    text<16> out;
    conv::hex_string(out, testing::hex("68 0A"));
    EXPECT_EQ("68 0A ", out.view());
    conv::hex_string(out, {});
    EXPECT_EQ("", out.view());
}

TEST(HexString, RefusesToCutAByteInHalf)
{
    text<8> out;  // room for two bytes (6 characters), not three
    EXPECT_FALSE(conv::hex_string(out, testing::hex("01 02 03")));
    EXPECT_EQ("01 02 ", out.view());
}

TEST(HexTextToBytes, Forms)
{
    struct row {
        const char* in;
        const char* bytes;
    };
    for (const row& r : {
             row{"68 0a\r\n16 ", "68 0A 16"},  // lower case, line ends before a pair
             row{"68 16", "68 16"},            // last pair needs no separator
             row{"68 1", "68"},                // a lone digit at the end is ignored
             row{"68 16 \r\n  ", "68 16"},     // trailing blanks add nothing
             row{"", ""},
             row{"  \n", ""},
         })
        EXPECT_EQ(r.bytes, decode_text(r.in)) << r.in;
}

TEST(HexTextToBytes, NonHexDigitsGiveTheirRuleValueButAreReported)
{
    int status = 0;
    // 'G' − 55 = 16: "1G" = 1·16 + 16 = 0x20
    EXPECT_EQ("20", decode_text("1G", &status));
    EXPECT_EQ(-1, status);
    decode_text("1f", &status);
    EXPECT_EQ(0, status);
}

TEST(HexTextToBytes, RoundTripOfEveryByte)
{
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    text<3 * 256 + 1> s;
    conv::hex_string(s, all);
    std::array<std::uint8_t, 256> back{};
    int count = 0;
    EXPECT_EQ(0, conv::hex_text_to_bytes(back, count, s.view()));
    ASSERT_EQ(256, count);
    EXPECT_TRUE(std::equal(all.begin(), all.end(), back.begin()));
}

TEST(HexTextToBytes, NeverWritesPastItsOutput)
{
    std::array<std::uint8_t, 2> out{};
    int count = 0;
    EXPECT_EQ(-1, conv::hex_text_to_bytes(out, count, "01 02 03 04"));
    EXPECT_EQ(2, count);
}

TEST(Bytes, LowAndSecond)
{
    EXPECT_EQ(0x34, conv::low_byte(0x1234));
    EXPECT_EQ(0x12, conv::second_byte(0x1234));
    EXPECT_EQ(0xFF, conv::low_byte(static_cast<std::uint32_t>(-1)));
}

TEST(TextFiles, ReadStopsAtZeroByteAndReportsOverlength)
{
    testing::temp_dir dir;
    testing::write_file(dir.file("z"), std::string("ab\0cd", 5));
    text<16> t;
    EXPECT_EQ(0, conv::read_text_file(dir.file("z").c_str(), t));
    EXPECT_EQ("ab", t.view());

    testing::write_file(dir.file("long"), std::string(20, 'x'));
    EXPECT_EQ(1, conv::read_text_file(dir.file("long").c_str(), t));
    EXPECT_EQ(15u, t.size());

    testing::write_file(dir.file("exact"), std::string(15, 'y'));
    EXPECT_EQ(0, conv::read_text_file(dir.file("exact").c_str(), t));

    EXPECT_EQ(-1, conv::read_text_file(dir.file("missing").c_str(), t));
    EXPECT_EQ(0, conv::file_exists(dir.file("missing").c_str()));
    EXPECT_EQ(0, conv::write_text_file(dir.file("w").c_str(), "new"));
    EXPECT_EQ("new", testing::read_file(dir.file("w")));
    EXPECT_EQ(1, conv::file_exists(dir.file("w").c_str()));
    EXPECT_EQ(-1, conv::write_text_file(dir.file("no/such/dir").c_str(), "x"));
}

TEST(Text, NeverOverflows)
{
    text<8> t;
    t.format("%s", "0123456789");
    EXPECT_EQ("0123456", t.view());
    t.append("more");
    EXPECT_EQ(7u, t.size());
    t.assign("ab");
    t.appendf("%d", 12345678);
    EXPECT_EQ("ab12345", t.view());
    t.erase_front(2);
    EXPECT_EQ("12345", t.view());
    t.append(std::string_view{});  // null data: the sanitizer build catches a copy from it
    EXPECT_EQ("12345", t.view());
}

} // namespace velkor
