#include "control/fifo.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "log/stop.h"
#include "log/text.h"
#include "log/trace.h"

namespace velkor::control {

namespace {

constexpr int record_size = static_cast<int>(sizeof(command_record));

void trace_record(const command_record& r, int count)
{
    const auto bus = field_view(r.bus.data(), r.bus.size());
    const auto sec = field_view(r.secAdr.data(), r.secAdr.size());
    const auto cmd = field_view(r.cmd.data(), r.cmd.size());
    std::printf("fifo read:\nbus = %.*s  id = %d   br = %d   secAdr = %.*s   cmd = %.*s   param = %d\n",
                static_cast<int>(bus.size()), bus.data(), r.id, r.br, static_cast<int>(sec.size()), sec.data(),
                static_cast<int>(cmd.size()), cmd.data(), r.param);
    std::printf("empfangen: %d von %d Bytes\n", count, record_size);
}

} // namespace

int create_command_fifo(const char* path)
{
    if (::mkfifo(path, 0600) == 0)
        return 0;
    // Only a FIFO will do: a regular file or a directory would end every
    // reading pass at once and spin for ever.
    struct stat st;
    if (errno == EEXIST && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode))
        return 0;
    if (trace::fifo)
        std::printf("%s konnte nicht angelegt werden\n", path);
    return -1;
}

int drain_command_fifo(const char* path)
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return 0;
    char buffer[16384];
    int total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            total += static_cast<int>(n);
        if (n != static_cast<ssize_t>(sizeof buffer))
            break;
    }
    ::close(fd);
    if (trace::fifo)
        std::printf("%s flushs %d Bytes\n", path, total);
    return total;
}

int read_command_fifo(const char* path, const log::log_settings& log, record_sink& sink)
{
    if (trace::fifo)
        std::printf("%s bereit zum Lesen\n", path);
    int fd;
    do
        fd = stop::is_requested() ? -2 : ::open(path, O_RDONLY);
    while (fd == -1 && errno == EINTR);
    if (fd == -2)
        return 0;  // asked to end while waiting for a writer
    if (fd < 0)
        return -1;

    command_record record;
    for (;;) {
        // Cleared before every read: a short record must not carry bytes of the
        // one before it.
        record = command_record{};
        if (stop::is_requested())
            break;
        const ssize_t n = ::read(fd, &record, sizeof record);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;  // every writer closed (or the read failed): the pass ends
        sink.check_break();
        if (trace::fifo)
            trace_record(record, static_cast<int>(n));
        if (n < record_size) {
            text<96> message;
            message.format("FIFO: short record of %d of %d bytes, rest zero-filled", static_cast<int>(n), record_size);
            log::log_write(log, "mbus_control", __LINE__, 1, message.view());
        }
        sink.dispatch(record);
    }
    ::close(fd);
    return 0;
}

} // namespace velkor::control
