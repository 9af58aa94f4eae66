#pragma once
// One record behind the 19 header bytes of a telegram, with its table entry
// laid out by hand (independent of the walk), and a text between guard
// blocks that shows any write past its storage.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "decode/records.h"
#include "support/fake_bus.h"

namespace velkor::decode {

struct one_record {
    testing::bytes telegram;
    record_table table;
};

inline one_record make_record(const std::string& dif, const std::string& vif, const std::string& data)
{
    using testing::bytes;
    one_record r;
    r.telegram = testing::hex("68 00 00 68 08 05 72 78 56 34 12 21 04 01 07 2A 00 00 00");
    const bytes d = testing::hex(dif), v = testing::hex(vif), x = testing::hex(data);
    record_span& s = r.table.entries[0];
    s.dif_offset = 19;
    s.dif_length = static_cast<std::uint16_t>(d.size());
    s.vif_offset = static_cast<std::uint16_t>(19 + d.size());
    s.vif_length = static_cast<std::uint16_t>(v.size());
    s.data_offset = static_cast<std::uint16_t>(s.vif_offset + v.size());
    s.data_length = static_cast<std::uint16_t>(x.size());
    r.table.count = 1;
    for (const bytes* part : {&d, &v, &x})
        r.telegram.insert(r.telegram.end(), part->begin(), part->end());
    r.telegram[1] = r.telegram[2] = static_cast<std::uint8_t>(r.telegram.size() - 4);
    std::uint8_t sum = 0;
    for (std::size_t i = 4; i < r.telegram.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + r.telegram[i]);
    r.telegram.push_back(sum);
    r.telegram.push_back(0x16);
    return r;
}

struct guarded_text {
    std::array<std::uint8_t, 32> before;
    record_text text;
    std::array<std::uint8_t, 32> after;
    guarded_text()
    {
        before.fill(0xA5);
        after.fill(0xA5);
    }
    void expect_intact() const
    {
        for (std::uint8_t b : before)
            ASSERT_EQ(0xA5, b);
        for (std::uint8_t b : after)
            ASSERT_EQ(0xA5, b);
        ASSERT_LE(text.size(), record_text::capacity());
        ASSERT_EQ(text.size(), std::strlen(text.c_str()));
    }
};

} // namespace velkor::decode
