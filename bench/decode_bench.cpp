// Decode path of a GET_DATA telegram: walk the records and render each one as
// descriptor, value, unit and extended text.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "decode/records.h"
#include "decode/telegram_builder.h"

namespace {

using namespace velkor::decode;
using bytes = std::vector<std::uint8_t>;

using velkor::decode_testing::hex_bytes;
using velkor::decode_testing::make_telegram;

bytes heat_meter_telegram() { return make_telegram(velkor::decode_testing::heat_meter_records()); }

// L field 255: the current readings followed by monthly storage values.
bytes maximum_size_telegram()
{
    bytes records = velkor::decode_testing::current_readings();
    for (int storage = 2; records.size() + 19 <= 240; storage += 2) {
        const auto difes = static_cast<std::uint8_t>(storage >> 1);
        bytes block = hex_bytes("CC 00 06 11 22 03 00"    // energy, storage n
                                "CC 00 14 44 55 66 00"    // volume, storage n
                                "C2 00 6C 9F 2C");        // date, storage n
        block[1] = block[8] = block[15] = difes;
        records.insert(records.end(), block.begin(), block.end());
    }
    while (records.size() < 240)
        records.push_back(0x2F);  // idle fillers
    return make_telegram(records);
}

struct decoded_texts {
    record_table table;
    record_text descriptor, unit, value, extended;
};

void decode_telegram(benchmark::State& state, const bytes& telegram)
{
    auto texts = std::make_unique<decoded_texts>();
    for (auto _ : state) {
        const int more = walk_records(telegram, texts->table);
        benchmark::DoNotOptimize(more);
        for (int i = 0; i < texts->table.count; ++i) {
            render_record(i, texts->table, telegram, texts->descriptor, texts->unit, texts->value,
                          texts->extended);
            benchmark::DoNotOptimize(texts->value.chars.data());
            benchmark::ClobberMemory();
        }
    }
    state.counters["records"] = texts->table.count;
    state.counters["bytes"] = static_cast<double>(telegram.size());
}

void BM_heat_meter_20_records(benchmark::State& state)
{
    decode_telegram(state, heat_meter_telegram());
}
BENCHMARK(BM_heat_meter_20_records);

void BM_maximum_size_telegram(benchmark::State& state)
{
    decode_telegram(state, maximum_size_telegram());
}
BENCHMARK(BM_maximum_size_telegram);

void BM_walk_only_maximum_size(benchmark::State& state)
{
    const bytes telegram = maximum_size_telegram();
    auto table = std::make_unique<record_table>();
    for (auto _ : state) {
        benchmark::DoNotOptimize(walk_records(telegram, *table));
        benchmark::ClobberMemory();
    }
    state.counters["records"] = table->count;
}
BENCHMARK(BM_walk_only_maximum_size);

} // namespace
