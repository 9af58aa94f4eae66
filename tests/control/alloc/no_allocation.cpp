// After its first command the daemon serves every further one without the
// heap. Every malloc (operator new included) made while a command runs is
// counted, leaving out what the test's own bus and clock allocate.

#include <atomic>

#include "control/daemon_fixture.h"
#include "support/meter_line.h"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)  // a sanitizer owns malloc
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) { return allocations += counting, __libc_malloc(size); }
void* calloc(std::size_t n, std::size_t size) { return allocations += counting, __libc_calloc(n, size); }
void* realloc(void* p, std::size_t size) { return allocations += counting, __libc_realloc(p, size); }
}
#endif

namespace velkor::testing {

namespace {

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
        clock.sleeps.reserve(1 << 16);
    }
    long counted(const std::string& cmd, int id)
    {
        const std::string sec = "30512047-VLK-2-4", bus_name = "/dev/ttyS0";
        const long before = allocations;
        counting = true;
        run(cmd, id, 0, sec, 2400, bus_name);
        counting = false;
        return allocations - before;
    }
};

} // namespace

TEST_F(allocations_per_command, NoneAfterTheFirstCommand)
{
    static void* volatile probe;
    counting = true;
    probe = std::malloc(8);
    counting = false;
    std::free(probe);
    if (allocations == 0)
        GTEST_SKIP() << "malloc cannot be counted under a sanitizer";

    counted("FUNCTION_TEST", 1);  // the first command may set up the time zone
    const struct {
        const char* cmd;
        const char* result_holds;  // the command did its work
    } commands[] = {{"FUNCTION_TEST", "\"OK\""}, {"HALLO", "\"OK\""}, {"GET_DATA", "\"tel\":\"2\""},
                    {"SLAVE_SEARCH", "\"state\":\"end\""}, {"GET_DATA", "\"tel\":\"2\""}};
    int id = 10;
    for (const auto& c : commands) {
        EXPECT_EQ(counted(c.cmd, ++id), 0) << c.cmd;
        EXPECT_NE(result(id).find(c.result_holds), std::string::npos) << c.cmd << ": " << result(id);
    }
}

} // namespace velkor::testing
