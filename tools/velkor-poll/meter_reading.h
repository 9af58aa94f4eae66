#pragma once
// One readout of a meter: its telegrams decoded by the daemon's decoder into
// numbers, and the JSON object that goes out as a JSON line and as the
// meter's MQTT state.

#include <cstdint>
#include <string>
#include <vector>

#include "decode/number.h"

namespace velkor::poll {

struct record_out {
    decode::reading_kind kind = decode::reading_kind::text;
    std::string key;          // unique within the readout: "energy", "volume_storage_1", ...
    std::string label;        // for people: "Energy", "Volume storage 1"
    decode::quantity what = decode::quantity::none;
    decode::base_unit unit = decode::base_unit::none;
    std::string value;        // JSON text: a number, a string or null
    std::string description;  // text records: the descriptor
    std::string error;
    decode::data_block block;
};

struct reading {
    std::string time;       // ISO 8601, UTC
    std::string secondary;  // as the telegram gives it, else as configured
    std::string name;
    int primary = -1;
    bool ok = false;
    std::string error;
    std::string manufacturer;
    int medium = 0;
    int version = 0;
    int access = 0;
    int status = 0;
    std::string status_text;
    std::vector<record_out> records;
};

using telegram_bytes = std::vector<std::uint8_t>;

// The telegrams of a GET_RAW_DATA document; false when it is not one.
bool raw_document_telegrams(const std::string& document, std::vector<telegram_bytes>& out);

// Fills the reading from the telegrams of one readout. It fails (ok false,
// error set) when a telegram is no valid answer, comes from another meter
// than `asked` (a secondary address; wildcard digits F match anything), or
// the last one announces more that never came.
void decode_readout(const std::vector<telegram_bytes>& telegrams, const std::string& asked, reading& out);

std::string reading_json(const reading& r);

// Appends text as a JSON string: quotes, backslash and control characters
// escaped, bytes that are no valid UTF-8 as \u00XX.
void append_json_string(std::string& out, std::string_view text);

// The time now as "2025-12-08T10:15:00Z".
std::string utc_now();

} // namespace velkor::poll
