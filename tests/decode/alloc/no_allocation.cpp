// The decode path runs on every answer of the bus and must not touch the
// heap. This program counts every global operator new.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "base/trace.h"
#include "decode/records.h"
#include "decode/telegram_builder.h"
#include "decode/value.h"

namespace {
std::atomic<long> allocations{0};

void* counted(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) { return counted(size); }
void* operator new[](std::size_t size) { return counted(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace velkor::decode {
namespace {

using decode_testing::bytes;

struct rendered_texts {
    record_text descriptor, unit, value, extended, dif, vif, data;
};

long allocations_while_decoding(const bytes& telegram, rendered_texts& texts, record_table& table)
{
    const long before = allocations.load();
    walk_records(telegram, table);
    for (int i = 0; i < table.count; ++i) {
        render_record(i, table, telegram, texts.descriptor, texts.unit, texts.value, texts.extended);
        render_record_hex(i, table, telegram, texts.dif, texts.vif, texts.data);
    }
    return allocations.load() - before;
}

TEST(decode_allocations, walking_and_rendering_allocate_nothing)
{
    // The counter itself must see allocations, or the test proves nothing.
    const long probe = allocations.load();
    delete new int(1);
    ASSERT_EQ(allocations.load() - probe, 1);

    bytes full_size;
    for (int i = 0; i < 12; ++i) {
        const bytes r = decode_testing::hex_bytes(
            "0D FD 0E 06 36 2E 31 30 20 56"  // text
            "04 6D 1E 0C 79 11"              // date and time
            "05 FF 01 00 00 AC 41");         // manufacturer-specific
        full_size.insert(full_size.end(), r.begin(), r.end());
    }
    full_size.resize(240, 0x2F);

    const bytes telegrams[] = {
        decode_testing::make_telegram(decode_testing::heat_meter_records()),
        decode_testing::make_telegram(full_size),
        decode_testing::make_telegram("84 10 FC 74 03 61 62 63 13 01 02 03 04 0D 13 F6"),
        decode_testing::make_telegram(""),
    };
    auto texts = std::make_unique<rendered_texts>();
    auto table = std::make_unique<record_table>();
    for (const bytes& t : telegrams) {
        SCOPED_TRACE(t.size());
        EXPECT_EQ(allocations_while_decoding(t, *texts, *table), 0);
        EXPECT_GE(table->count, 1);
    }
}

} // namespace
} // namespace velkor::decode
