#pragma once
// The bus file: the meters the simulator plays, as text.
//
//   # a comment, to the end of the line
//   meter NAME                  a new meter; NAME is one word
//   address N                   primary address 0..250 (default: A field of its first telegram)
//   baud N                      hears only this rate (default: every rate until a baud-rate switch)
//   delay MS                    answers MS milliseconds after a request (default: 11 bit times to 30 ms)
//   fault silent | no-data | bad-checksum K | stop-after K
//   line echo | line noise HEX  the wire: the master's bytes come back / HEX before every answer
//   68 1F 1F 68 08 01 72 ...    telegram bytes in hex; a telegram may run over several
//                               lines and ends with its (L + 6)th byte, at the end of a line
//
// Secondary address and manufacturer come from the first telegram's header.

#include <string>
#include <string_view>

#include "meter_bus.h"

namespace velkor::sim {

struct parse_error {
    int line = 0;  // 1-based; 0 when the file could not be read at all
    std::string message;
};

// "line 12: ..." or the bare message for line 0.
std::string describe(const parse_error& error);

// Fills `bus` and returns true; on the first error returns false with it.
bool parse_bus_text(std::string_view text, meter_bus& bus, parse_error& error);
bool read_bus_file(const std::string& path, meter_bus& bus, parse_error& error);

} // namespace velkor::sim
