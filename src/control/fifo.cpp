#include "control/fifo.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/stop.h"
#include "base/text.h"
#include "base/trace.h"
#include "control/command_table.h"

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

void log_fifo(const log::log_settings& log, int line, std::string_view message)
{
    log::log_write(log, "mbus_control", line, 1, message);
}

// After a refused record the stream may no longer start at a record: what is
// waiting now goes, so the next client's record begins a read of its own.
void refuse(int fd, const log::log_settings& log, const text<96>& why)
{
    text<128> message;
    message.format("FIFO: %s", why.c_str());
    log_fifo(log, __LINE__, message.view());

    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    char waste[4096];
    long thrown = 0;
    for (ssize_t n; (n = ::read(fd, waste, sizeof waste)) > 0 || (n < 0 && errno == EINTR);)
        thrown += n > 0 ? n : 0;
    ::fcntl(fd, F_SETFL, flags);
    if (thrown > 0) {
        message.format("FIFO: %ld bytes waiting behind it thrown away", thrown);
        log_fifo(log, __LINE__, message.view());
    }
}

} // namespace

int lock_command_fifo(const char* path)
{
    text<272> lock_path;
    lock_path.format("%s.lock", path);
    if (path[0] == '\0' || lock_path.full()) {
        errno = path[0] == '\0' ? ENOENT : ENAMETOOLONG;
        return -1;
    }
    const int fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return error == EWOULDBLOCK ? served_elsewhere : -1;
}

int create_command_fifo(const char* path)
{
    // Owner and group: clients join the daemon's group instead of running as
    // its user. Set again past the umask, which would take the group's write.
    if (::mkfifo(path, 0660) == 0)
        return ::chmod(path, 0660) == 0 ? 0 : -1;
    // Only a FIFO will do: a regular file or a directory would end every
    // reading pass at once and spin for ever.
    const int error = errno;
    struct stat st;
    if (error == EEXIST && ::stat(path, &st) == 0 && S_ISFIFO(st.st_mode))
        return 0;
    if (trace::fifo)
        std::printf("%s konnte nicht angelegt werden\n", path);
    errno = error;
    return -1;
}

int drain_command_fifo(const char* path, bool made_now)
{
    // A FIFO made just now holds nothing stale: opening it would only let in a
    // client already waiting to write this run's first record, and lose it.
    const int fd = made_now ? -1 : ::open(path, O_RDONLY | O_NONBLOCK);
    char buffer[16384];
    int total = 0;
    while (fd >= 0) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            total += static_cast<int>(n);
        if (n != static_cast<ssize_t>(sizeof buffer))
            break;
    }
    if (fd >= 0)
        ::close(fd);
    if (trace::fifo)
        std::printf("%s flushs %d Bytes\n", path, total);
    return total;
}

void record_fault(const command_record& record, int count, text<96>& why)
{
    why.clear();
    if (count < record_size) {
        why.format("short record of %d of %d bytes, not run", count, record_size);
        return;
    }
    const struct {
        const char* name;
        const char* field;
        std::size_t size;
    } fields[] = {
        {"bus", record.bus.data(), record.bus.size()},
        {"secAdr", record.secAdr.data(), record.secAdr.size()},
        {"cmd", record.cmd.data(), record.cmd.size()},
    };
    for (const auto& f : fields)
        if (std::memchr(f.field, '\0', f.size) == nullptr) {
            why.format("field %s without terminating zero, record not run", f.name);
            return;
        }
    // Never a client's command; what a read shifted into a bus name gives.
    if (record.cmd[0] == '\0') {
        why.assign("record without command name, not run");
        return;
    }
    const auto printable = [](char ch) { return static_cast<unsigned char>(ch) >= 0x20 && ch != 0x7F; };
    const auto bus = field_view(record.bus.data(), record.bus.size());
    if (!std::all_of(bus.begin(), bus.end(), printable)) {
        why.assign("field bus holds non-printable bytes, record not run");
        return;
    }
    // A record read out of step shows as a name no command has.
    const auto name = field_view(record.cmd.data(), record.cmd.size());
    if (find_command(name))
        return;
    why.assign("unknown command ");
    for (char ch : name)
        if (printable(ch) && static_cast<unsigned char>(ch) < 0x80)
            why.append(std::string_view(&ch, 1));
}

int read_command_fifo(const char* path, const log::log_settings& log, record_sink& sink)
{
    if (trace::fifo)
        std::printf("%s bereit zum Lesen\n", path);
    // The sink is asked before every wait too: a signal that came just
    // before it would otherwise wait for the next client.
    int fd;
    do
        fd = stop::is_requested() || sink.done() ? -2 : ::open(path, O_RDONLY | O_CLOEXEC);
    while (fd == -1 && errno == EINTR);
    if (fd == -2)
        return 0;  // asked to end while waiting for a writer
    if (fd < 0)
        return -1;
    // A client is there, so this open does not block.
    const int own_writer = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (own_writer < 0) {
        ::close(fd);
        return -1;
    }

    command_record record;
    text<96> why;
    for (;;) {
        // Cleared before every read: no record carries bytes of the one before.
        record = command_record{};
        if (stop::is_requested())
            break;
        const ssize_t n = ::read(fd, &record, sizeof record);
        if (n < 0 && errno == EINTR) {
            if (sink.done())
                break;
            continue;
        }
        if (n <= 0)
            break;
        if (trace::fifo)
            trace_record(record, static_cast<int>(n));
        record_fault(record, static_cast<int>(n), why);
        if (why.size() == 0) {
            sink.check_break();
            sink.dispatch(record);
        } else {
            refuse(fd, log, why);
        }
        if (sink.done())
            break;
    }
    ::close(own_writer);
    ::close(fd);
    return 0;
}

} // namespace velkor::control
