#include "port/file_transport.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "base/trace.h"

namespace velkor::port {

void set_fileio_trace(int value)
{
    trace::fileio = value;
    if (value)
        std::puts("DEBUG_FILEIO");
}

int file_transport_write(const char* path, std::span<const std::uint8_t> bytes)
{
    if (trace::fileio)
        std::printf("write to %s\n", path);
    // Neither created nor truncated: the request lands over the file's start.
    // Never waits: a FIFO without reader or a device not ready fails at once.
    const int fd = ::open(path, O_WRONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (trace::fileio)
            std::perror("could not open file");
        return -1;
    }
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n != static_cast<ssize_t>(bytes.size()) && trace::fileio)
        std::perror("could not write file");
    ::close(fd);
    return static_cast<int>(n);
}

int file_transport_read(const char* path, std::span<std::uint8_t> buffer)
{
    if (trace::fileio)
        std::printf("read from %s\n", path);
    // Never waits, also on a pipe or a terminal: the answer is what is there now.
    const int fd = ::open(path, O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (trace::fileio)
            std::perror("could not open file");
        return -1;
    }
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && trace::fileio)
        std::perror("could not read file");
    ::close(fd);
    return static_cast<int>(n);
}

} // namespace velkor::port
