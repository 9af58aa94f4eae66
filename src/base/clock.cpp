#include "base/clock.h"

#include <cerrno>
#include <time.h>

namespace velkor {

namespace {

struct system_clock_impl final : clock {
    void sleep_ms(int ms) override
    {
        if (ms <= 0)
            return;
        timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
        while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
        }
    }

    std::int64_t monotonic_us() override
    {
        timespec ts;
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<std::int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
    }

    std::time_t wall_time() override { return ::time(nullptr); }
};

} // namespace

clock& system_clock()
{
    static system_clock_impl instance;
    return instance;
}

} // namespace velkor
