#pragma once
// The serial device under the transceiver, played by a test on virtual time.
// Input comes two ways: `chunks`, one per read whatever the time (a script
// of the polls of a receive), or arrivals at set moments: each write takes
// the next list of `answers` (or, once they are out, what the responder makes
// of the frame), due so many ms after it, and arrive() adds some that come so
// many ms after now. Everything done to it is recorded.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "link/transceiver.h"
#include "support/fake_bus.h"

namespace velkor::testing {

struct arrival {
    int after_ms;
    bytes data;
};

struct fake_line final : link::line_io {
    velkor::clock& clock;

    std::deque<bytes> chunks;
    bytes waiting;  // in the input queue when a request goes out, unless discarded
    std::deque<std::vector<arrival>> answers;
    std::function<std::vector<arrival>(std::span<const std::uint8_t> frame)> responder;
    std::multimap<std::int64_t, bytes> due;  // by the µs of their arrival
    // Arrivals not read stay for the next request, as in an input queue. Off,
    // the line cannot tell what waits, and each write starts afresh.
    bool keeps_input = true;

    bool present = true;    // the device is there (or could be opened again)
    int gone_at_read = 0;   // this read, counted from 1, finds the device gone
    std::deque<int> modem;  // per call: TIOCM bits, or -1 for unreadable

    std::string calls;  // "ready, speed 9600, discard, write, drain, "
    std::vector<int> speeds;
    std::vector<bytes> written;
    std::vector<int> written_ms;
    std::int64_t ready_at_us = 0;    // when ready() was asked last
    std::int64_t written_at_us = 0;  // when the last write came
    std::vector<bool> breaks;
    int reads = 0;

    explicit fake_line(velkor::clock& c) : clock(c) {}
    void arrive(const std::vector<arrival>& arrivals);

    bool ready() override;
    void set_speed(int baud_rate) override;
    void discard_input() override;
    int pending_input() override;
    int write(std::span<const std::uint8_t> data) override;
    void drain() override;
    int read(std::span<std::uint8_t> buffer) override;
    void wait_input(velkor::clock& c, int timeout_ms) override;
    int modem_lines(int& bits) override;
    void set_break(bool on) override;
};

// Virtual time for the two threads of an exchange. A sleeper goes on only when
// the other thread is asleep too or has nothing left to do, and the earlier
// wake-up goes first (the receive thread on a tie).
struct lockstep_clock final : velkor::clock {
    std::mutex mutex;
    std::condition_variable changed;
    std::int64_t now_us = 0;
    const std::thread::id main_thread = std::this_thread::get_id();
    const link::transceiver* watched = nullptr;
    std::optional<std::int64_t> main_wake, receive_wake;
    std::vector<int> main_sleeps, receive_sleeps;

    void sleep_ms(int ms) override
    {
        std::unique_lock lock(mutex);
        const bool is_main = std::this_thread::get_id() == main_thread;
        const std::int64_t wake = now_us + static_cast<std::int64_t>(ms) * 1000;
        (is_main ? main_sleeps : receive_sleeps).push_back(ms);
        auto& mine = is_main ? main_wake : receive_wake;
        mine = wake;
        changed.notify_all();
        // The flags of the transceiver change without a notification.
        while (!may_go(is_main, wake))
            changed.wait_for(lock, std::chrono::microseconds(200));
        now_us = wake;
        mine.reset();
        changed.notify_all();
    }

    bool may_go(bool is_main, std::int64_t wake) const
    {
        if (is_main) {
            if (!watched || !watched->receive_running.load())
                return true;
            return receive_wake && wake < *receive_wake;
        }
        if (watched && watched->stop_requested.load())
            return true;
        return main_wake && wake <= *main_wake;
    }

    std::int64_t monotonic_us() override
    {
        std::lock_guard lock(mutex);
        return now_us;
    }
    std::time_t wall_time() override { return 0; }
    int now_ms()
    {
        std::lock_guard lock(mutex);
        return static_cast<int>(now_us / 1000);
    }
};

} // namespace velkor::testing
