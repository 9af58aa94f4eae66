// Decode path of a GET_DATA telegram: walk the records and render each one as
// descriptor, value, unit and extended text.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "decode/records.h"

namespace {

using namespace velkor::decode;
using bytes = std::vector<std::uint8_t>;

void append_hex(bytes& out, std::string_view text)
{
    int high = -1;
    for (char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        if (v < 0)
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
}

// RSP_UD from a heat meter at primary address 5.
bytes long_frame(const bytes& records)
{
    const auto l_field = static_cast<std::uint8_t>(15 + records.size());
    bytes t;
    append_hex(t, "68 00 00 68 08 05 72 78 56 34 12 21 04 01 04 2A 00 00 00");
    t[1] = t[2] = l_field;
    t.insert(t.end(), records.begin(), records.end());
    std::uint8_t checksum = 0;
    for (std::size_t i = 4; i < t.size(); ++i)
        checksum = static_cast<std::uint8_t>(checksum + t[i]);
    t.push_back(checksum);
    t.push_back(0x16);
    return t;
}

// The current readings of a heat meter, as one answers REQ_UD2.
void current_readings(bytes& out)
{
    append_hex(out,
               "0C 78 56 34 12 00"              // fabrication number
               "0C 06 27 04 85 02"              // energy, kWh
               "0C 14 13 32 82 58"              // volume, 10 l
               "0B 2D 37 00 00"                 // power, 100 W
               "0B 3B 28 01 00"                 // volume flow, l/h
               "0A 5A 65 06"                    // flow temperature, 0.1 C
               "0A 5E 16 04"                    // return temperature, 0.1 C
               "0B 61 49 24 00"                 // temperature difference, 0.01 K
               "04 6D 1E 0C 79 11"              // date and time
               "02 FD 17 00 00"                 // error flags
               "4C 06 00 00 00 00"              // energy at the due date
               "42 6C 9F 2C"                    // due date
               "8C 10 06 25 17 03 00"           // energy, tariff 1
               "84 01 13 10 27 00 00"           // volume, storage 2
               "04 22 10 0E 00 00"              // on time, hours
               "04 26 A4 0D 00 00"              // operating time, hours
               "05 FF 01 00 00 AC 41"           // manufacturer-specific real
               "0D FD 0E 06 36 2E 31 30 20 56"  // firmware version text
               "0E 0A 55 12 34 12 00 00");      // energy, MWh, 12 digits
}

bytes heat_meter_telegram()
{
    bytes records;
    current_readings(records);
    append_hex(records, "0F 01 02 03 04");  // manufacturer data to the end: 20 records
    return long_frame(records);
}

// L field 255: the current readings followed by monthly storage values.
bytes maximum_size_telegram()
{
    bytes records;
    current_readings(records);
    for (int storage = 2; records.size() + 19 <= 240; storage += 2) {
        const auto difes = static_cast<std::uint8_t>(storage >> 1);
        bytes block;
        append_hex(block, "CC 00 06 11 22 03 00");  // energy, storage n
        append_hex(block, "CC 00 14 44 55 66 00");  // volume, storage n
        append_hex(block, "C2 00 6C 9F 2C");        // date, storage n
        block[1] = block[8] = block[15] = difes;
        records.insert(records.end(), block.begin(), block.end());
    }
    while (records.size() < 240)
        records.push_back(0x2F);  // idle fillers
    return long_frame(records);
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
