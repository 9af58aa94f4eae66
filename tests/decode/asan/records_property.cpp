// Random record areas, walked and rendered in a program built with
// AddressSanitizer and UBSan: each telegram lies in a heap block of exactly its
// received length, so any read past it stops the test.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <random>

#include "decode/records.h"
#include "decode/telegram_builder.h"
#include "decode/value.h"

namespace velkor::decode {
namespace {

using decode_testing::bytes;

// Codes that steer the walk and the renderers onto their special paths.
constexpr std::array<std::uint8_t, 40> steering_bytes = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E,
    0x0F, 0x1F, 0x2F, 0x8F, 0x84, 0x80, 0x7C, 0xFC, 0xFD, 0xFB, 0x7F, 0xFF, 0x6C, 0x6D,
    0x72, 0x73, 0x30, 0x3D, 0xBF, 0xC4, 0xD2, 0xE8, 0xF0, 0xF5, 0xF6, 0xF7};

struct generator {
    std::mt19937 rng{20240611};

    std::size_t below(std::size_t n) { return n == 0 ? 0 : rng() % n; }
    std::uint8_t any() { return static_cast<std::uint8_t>(rng()); }
    std::uint8_t steering() { return below(2) ? steering_bytes[below(steering_bytes.size())] : any(); }

    void extensions(bytes& out, std::size_t n)
    {
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(static_cast<std::uint8_t>(any() | (i + 1 < n ? 0x80 : 0x00)));
    }

    void text(bytes& out)
    {
        const std::size_t n = below(4) ? below(12) : below(256);
        out.push_back(static_cast<std::uint8_t>(n));
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(static_cast<std::uint8_t>(0x20 + below(0x60)));
    }

    // One record shaped like the real thing, though not always consistent.
    void record(bytes& out)
    {
        std::uint8_t dif = steering();
        const std::size_t difes = below(4) ? 0 : below(13);
        if (difes > 0)
            dif |= 0x80;
        out.push_back(dif);
        extensions(out, difes);

        switch (below(6)) {
        case 0:  // plain text
            out.push_back(0x7C);
            text(out);
            break;
        case 1:  // 0xFC, VIFEs, text
            out.push_back(0xFC);
            extensions(out, 1 + below(3));
            text(out);
            break;
        case 2:  // 0xFC, text, VIFEs
            out.push_back(0xFC);
            out.push_back(static_cast<std::uint8_t>(below(16)));
            for (std::size_t i = out.back(); i > 0; --i)
                out.push_back(any());
            extensions(out, 1 + below(12));
            break;
        default: {
            const std::uint8_t vif = steering();
            out.push_back(vif);
            if (vif & 0x80)
                extensions(out, 1 + below(12));
        }
        }

        std::size_t n = static_cast<std::size_t>(data_field_length(dif));
        if ((dif & 0x0F) == 0x0D) {
            const std::uint8_t lvar = steering();
            out.push_back(lvar);
            n = lvar <= 0xBF ? lvar : 16;
        }
        if (below(8) == 0)
            n = below(70);
        for (std::size_t i = 0; i < n; ++i)
            out.push_back(any());
    }

    bytes area()
    {
        bytes out;
        const std::size_t target = below(4) ? below(242) : below(492);
        switch (below(3)) {
        case 0:
            while (out.size() < target)
                out.push_back(steering());
            break;
        case 1:
            while (out.size() < target)
                record(out);
            break;
        default:
            while (out.size() < target)
                record(out);
            for (std::size_t i = below(8); i > 0 && !out.empty(); --i)
                out[below(out.size())] = steering();
        }
        if (out.size() > 492)
            out.resize(492);
        return out;
    }
};

std::size_t hex_length(telegram_view t, std::uint16_t offset, std::uint16_t length)
{
    return 3 * span_bytes(t, offset, length).size();
}

TEST(decode_property, random_record_areas_stay_inside_the_telegram)
{
    generator gen;
    record_table table;
    record_text descriptor, unit, value, extended, dif, vif, data;
    std::size_t records = 0;

    for (int round = 0; round < 20000; ++round) {
        bytes frame = decode_testing::make_telegram(gen.area(), gen.any());
        // Sometimes the view ends early, as a frame cut off on the line would.
        if (gen.below(5) == 0)
            frame.resize(gen.below(frame.size() + 1));

        const std::size_t length = frame.size();
        const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[length]);
        std::copy(frame.begin(), frame.end(), exact.get());
        const telegram_view t(exact.get(), length);

        const int more = walk_records(t, table);
        ASSERT_TRUE(more == 0 || more == 1);
        ASSERT_GE(table.count, 1);
        ASSERT_LE(table.count, table.entries.size());

        std::size_t offset = 19;
        for (std::size_t i = 0; i < table.count; ++i) {
            const record_span& s = table.entries[i];
            while (offset < s.dif_offset && t[offset] == 0x2F)
                ++offset;  // idle fillers in front of a further record
            ASSERT_EQ(s.dif_offset, offset) << "round " << round;
            ASSERT_GE(s.dif_length, 1);
            ASSERT_LE(s.dif_length, 11);
            ASSERT_GE(s.vif_length, 1);
            ASSERT_EQ(s.vif_offset, s.dif_offset + s.dif_length);
            ASSERT_EQ(s.data_offset, s.vif_offset + s.vif_length);
            if (i > 0) {
                ASSERT_LT(s.dif_offset + 2u, length) << "walked on past the checksum, round " << round;
            }
            offset = std::size_t{s.data_offset} + s.data_length;
        }
        ASSERT_TRUE(offset + 2 >= length || table.count == table.entries.size()) << "round " << round;

        for (int i = 0; i < table.count; ++i) {
            const record_span& s = table.entries[static_cast<std::size_t>(i)];
            render_record(i, table, t, descriptor, unit, value, extended);
            EXPECT_FALSE(value.full() || descriptor.full() || unit.full() || extended.full()) << "round " << round;

            render_record_hex(i, table, t, dif, vif, data);
            ASSERT_EQ(dif.size(), hex_length(t, s.dif_offset, s.dif_length));
            ASSERT_EQ(vif.size(), hex_length(t, s.vif_offset, s.vif_length));
            ASSERT_EQ(data.size(), hex_length(t, s.data_offset, s.data_length));
            ++records;
        }
    }
    RecordProperty("records", static_cast<int>(records));
}

} // namespace
} // namespace velkor::decode
