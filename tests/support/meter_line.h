#pragma once
// The simulator's meters behind an in-process bus line: the command flows talk
// to the very slaves velkor-sim plays, without a pty and without waiting.

#include <cstdint>
#include <string>
#include <vector>

#include "../../tools/velkor-sim/model/bus_file.h"
#include "../../tools/velkor-sim/model/meter_bus.h"
#include "link/transceiver.h"

namespace velkor::testing {

struct meter_line final : link::bus_line {
    sim::meter_bus meters;
    std::vector<std::vector<std::uint8_t>> seen;  // every frame sent, in order
    std::vector<std::uint32_t> baud_rates;        // the line speed of each frame
    std::vector<std::string> notes;               // what the meters made of each frame

    meter_line() = default;
    explicit meter_line(sim::meter_bus bus) : meters(std::move(bus)) {}

    // Answers as the daemon's transceiver would collect it: nothing in answer
    // mode 0; in mode 2 only the bytes from a long-frame start (68 L L 68) on.
    void transceive(link::bus_context& bus) override;
};

// A meter_line over a bus file's text; fails the current test on a parse error.
meter_line meter_line_from(const std::string& bus_file_text);

} // namespace velkor::testing
