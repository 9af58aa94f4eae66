#pragma once
// RSP_UD long frames around a record area, for the decode tests. Standard
// library only, so the sanitizer and allocation programs can use it too.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velkor::decode_testing {

using bytes = std::vector<std::uint8_t>;

// "0C 13 78 56" -> bytes; anything but hex digits is skipped.
inline bytes hex_bytes(std::string_view text)
{
    bytes out;
    int high = -1;
    for (char c : text) {
        int v = -1;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
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
    return out;
}

// 68 L L 68 08 A 72 (A 0x05 unless given), identification 12345678, manufacturer 0x0421, version 1,
// medium 4 (heat), access 0x2A, status 0, signature 0, the records, CS, 16.
// The records start at offset 19.
inline bytes make_telegram(std::span<const std::uint8_t> records, std::uint8_t address = 0x05)
{
    const auto l_field = static_cast<std::uint8_t>(15 + records.size());
    const std::uint8_t header[19] = {0x68, l_field, l_field, 0x68, 0x08, address, 0x72, 0x78, 0x56, 0x34,
                                     0x12, 0x21, 0x04, 0x01, 0x04, 0x2A, 0x00, 0x00, 0x00};
    bytes t;
    t.reserve(sizeof header + records.size() + 2);
    for (std::uint8_t b : header)
        t.push_back(b);
    for (std::uint8_t b : records)
        t.push_back(b);
    std::uint8_t checksum = 0;
    for (std::size_t i = 4; i < t.size(); ++i)
        checksum = static_cast<std::uint8_t>(checksum + t[i]);
    t.push_back(checksum);
    t.push_back(0x16);
    return t;
}

inline bytes make_telegram(std::string_view records_hex, std::uint8_t address = 0x05)
{
    return make_telegram(hex_bytes(records_hex), address);
}

// The current readings of a heat meter: 19 records.
inline bytes current_readings()
{
    return hex_bytes(
        "0C 78 56 34 12 00"           // fabrication number 123456
        "0C 06 27 04 85 02"           // energy 2850427 kWh (BCD)
        "0C 14 13 32 82 58"           // volume 58823213 10^-2 m3
        "0B 2D 37 00 00"              // power 37 10^2 W
        "0B 3B 28 01 00"              // flow 128 l/h
        "0A 5A 65 06"                 // flow temperature 65.6 C
        "0A 5E 16 04"                 // return temperature 41.6 C
        "0B 61 49 24 00"              // temperature difference 24.49 K
        "04 6D 1E 0C 79 11"           // date and time 25.01.11 12:30
        "02 FD 17 00 00"              // error flags
        "4C 06 00 00 00 00"           // energy, storage 1
        "42 6C 9F 2C"                 // date of storage 1
        "8C 10 06 25 17 03 00"        // energy, tariff 1
        "84 01 13 10 27 00 00"        // volume, storage 2
        "04 22 10 0E 00 00"           // on time in hours
        "04 26 A4 0D 00 00"           // operating time
        "05 FF 01 00 00 AC 41"        // manufacturer-specific real
        "0D FD 0E 06 36 2E 31 30 20 56"  // firmware text "V 01.6"
        "0E 0A 55 12 34 12 00 00");   // 12-digit BCD energy in MWh
}

// A realistic heat-meter answer of 20 records: the current readings and
// manufacturer data to the end.
inline bytes heat_meter_records()
{
    bytes records = current_readings();
    for (std::uint8_t b : {0x0F, 0x01, 0x02, 0x03, 0x04})
        records.push_back(b);
    return records;
}

} // namespace velkor::decode_testing
