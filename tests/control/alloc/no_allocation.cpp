// After its first command the daemon serves every further one without the
// heap: the log, the result documents and the bus state live in fixed buffers.
// This program counts every malloc (and so every operator new) made while a
// command runs, leaving out what the test's own bus allocates.

#include <atomic>
#include <cstdlib>
#include <new>

#include "control/daemon_fixture.h"
#include "support/meter_line.h"

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void count()
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer owns malloc: only operator new is counted then.
void* operator new(std::size_t size)
{
    count();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#else
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);

void* malloc(std::size_t size)
{
    count();
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size)
{
    count();
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size)
{
    count();
    return __libc_realloc(p, size);
}
}
#endif

namespace velkor::testing {

namespace {

// The meters' own allocations are not the daemon's.
struct uncounted_line final : link::bus_line {
    link::bus_line& inner;
    explicit uncounted_line(link::bus_line& l) : inner(l) {}
    void transceive(link::bus_context& bus) override
    {
        counting = false;
        inner.transceive(bus);
        counting = true;
    }
};

struct allocations_per_command : daemon_fixture {
    meter_line meters = meter_line_from(read_file(std::string(VELKOR_SOURCE_DIR) + "/tools/velkor-sim/examples/demo.bus"));
    uncounted_line line{meters};
    allocations_per_command()
    {
        control::connect_daemon_state(d, line, clock);
        clock.sleeps.reserve(1 << 16);  // the virtual clock's own record of the waits
    }

    long counted(const std::string& cmd, int id, const std::string& sec = "30512047-VLK-2-4")
    {
        const long before = allocations.load();
        counting = true;
        run(cmd, id, 0, sec);
        counting = false;
        return allocations.load() - before;
    }
};

} // namespace

TEST_F(allocations_per_command, NoneAfterTheFirstCommand)
{
    static int* volatile probe;
    counting = true;
    probe = new int(1);
    delete probe;
    counting = false;
    ASSERT_GE(allocations.load(), 1) << "the counter sees nothing";

    counted("FUNCTION_TEST", 1);  // start-up: the first command may set up time zone and streams
    const struct {
        const char* cmd;
        const char* result_holds;  // the command did its work
    } commands[] = {
        {"FUNCTION_TEST", "\"OK\""},
        {"HALLO", "\"OK\""},
        {"GET_DATA", "\"tel\":\"2\""},
        {"SLAVE_SEARCH", "\"state\":\"end\""},
        {"GET_DATA", "\"tel\":\"2\""},
    };
    int id = 10;
    for (const auto& c : commands) {
        EXPECT_EQ(counted(c.cmd, ++id), 0) << c.cmd;
        EXPECT_NE(result(id).find(c.result_holds), std::string::npos) << c.cmd << ": " << result(id);
    }
}

} // namespace velkor::testing
