#include "common/daemon_client.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace velkor::tools {

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(50);

template <std::size_t N>
void put_text(std::array<char, N>& field, const std::string& text)
{
    std::memcpy(field.data(), text.data(), std::min(text.size(), N - 1));
}

} // namespace

control::command_record pack_record(const record_fields& fields)
{
    control::command_record r;
    put_text(r.bus, fields.bus);
    r.id = fields.id;
    r.br = fields.br;
    put_text(r.secAdr, fields.sec);
    put_text(r.cmd, fields.command);
    r.param = fields.param;
    return r;
}

void report_permission_denied(const std::string& what, const std::string& path)
{
    std::fprintf(stderr,
                 "%s: permission denied: this user may not %s %s (a client of the packaged service joins group "
                 "velkor)\n",
                 program_invocation_short_name, what.c_str(), path.c_str());
}

int open_fifo(const std::string& path, steady::time_point deadline)
{
    const char* program = program_invocation_short_name;
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st{};
            if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
                std::fprintf(stderr, "%s: %s is not a FIFO\n", program, path.c_str());
                ::close(fd);
                return -1;
            }
            return fd;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if ((error == ENXIO || error == ENOENT) && steady::now() < deadline) {
            std::this_thread::sleep_for(poll_interval);
            continue;
        }
        if (error == EACCES)
            report_permission_denied("write", path);
        else
            std::fprintf(stderr, "%s: %s %s\n", program, path.c_str(),
                         error == ENXIO    ? "has no reader: the daemon is not running"
                         : error == ENOENT ? "does not exist: is the daemon running, and is this its path_input?"
                                           : std::strerror(error));
        return -1;
    }
}

bool write_record(int fd, const std::string& path, const control::command_record& record,
                  steady::time_point deadline)
{
    for (;;) {
        const ssize_t written = ::write(fd, &record, sizeof record);
        if (written == static_cast<ssize_t>(sizeof record))
            return true;
        const int error = written < 0 ? errno : EIO;
        if (error == EINTR)
            continue;
        if (error == EAGAIN && steady::now() < deadline) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        std::fprintf(stderr, "%s: writing %s: %s\n", program_invocation_short_name, path.c_str(),
                     error == EAGAIN  ? "time-out: the FIFO stays full, the daemon is busy"
                     : error == EPIPE ? "the daemon went away"
                                      : std::strerror(error));
        return false;
    }
}

bool read_whole(const std::string& path, std::string& content)
{
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (!f)
        return false;
    content.clear();
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        content.append(buffer, n);
    std::fclose(f);
    return true;
}

int watch_directory(const std::string& directory)
{
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::inotify_add_watch(fd, directory.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void wait_for_change(int watch, int timeout_ms)
{
    if (watch < 0) {
        std::this_thread::sleep_for(std::min(poll_interval, std::chrono::milliseconds(timeout_ms)));
        return;
    }
    pollfd p{watch, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) > 0) {
        alignas(inotify_event) char events[4096];
        while (::read(watch, events, sizeof events) > 0) {
        }
    }
}

} // namespace velkor::tools
