#pragma once
// Time as the daemon sees it. Behind an interface so that tests can run the
// slow protocol timing (pauses of seconds, time-outs of ten) on virtual time.

#include <cstdint>
#include <ctime>

namespace velkor {

struct clock {
    virtual ~clock() = default;
    // Blocks the calling thread for ms milliseconds. May be called from the
    // receive thread and the main thread at once.
    virtual void sleep_ms(int ms) = 0;
    // Monotonic microseconds, for elapsed-time measurement.
    virtual std::int64_t monotonic_us() = 0;
    // Wall-clock seconds since the epoch, for time stamps.
    virtual std::time_t wall_time() = 0;
};

// The real clock of the system.
clock& system_clock();

} // namespace velkor
