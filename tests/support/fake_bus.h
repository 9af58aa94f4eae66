#pragma once
// A bus played by the test: every frame sent is recorded, and the answer
// comes from a script of expected requests or from a responder function.

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "link/transceiver.h"

namespace velkor::testing {

using bytes = std::vector<std::uint8_t>;

// "68 0B 0B 68" -> bytes; blanks are optional.
bytes hex(const std::string& text);
std::string to_hex(std::span<const std::uint8_t> data);

struct scripted_bus final : link::bus_line {
    struct step {
        bytes expect;       // empty: any request
        bytes answer;       // empty: no answer
        bool lose = false;  // the line goes here: no answer, and the command's line has failed
    };
    std::deque<step> script;
    // Used when the script is empty: answers every request.
    std::function<bytes(std::span<const std::uint8_t>)> responder;
    std::vector<bytes> sent;
    std::vector<std::uint32_t> baud_rates;
    std::vector<link::answer_mode> answer_modes;

    int repeats = 0;     // retries(), as the standard profile has them
    bool failed = false; // a step lost the line in this command

    scripted_bus& expect(const bytes& request, const bytes& answer = {});
    scripted_bus& answer_any(const bytes& answer = {});
    scripted_bus& lose_line();
    void transceive(link::bus_context& bus) override;
    int retries() const override { return repeats; }
    void begin_command() override { failed = false; }
    bool line_failed() const override { return failed; }
};

// Virtual time: sleeping advances it at once. Safe from two threads.
struct fake_clock final : velkor::clock {
    std::mutex mutex;
    std::int64_t now_us = 0;
    std::time_t wall = 1765051178;  // 06.12.2025 19:59:38 UTC
    std::vector<int> sleeps;

    void sleep_ms(int ms) override;
    std::int64_t monotonic_us() override;
    std::time_t wall_time() override;
    std::vector<int> taken();
};

} // namespace velkor::testing
