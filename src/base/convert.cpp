#include "base/convert.h"

#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velkor::conv {

namespace {

int digit_value(char c)
{
    const int u = std::toupper(static_cast<unsigned char>(c));
    return u <= 0x40 ? u - 0x30 : u - 55;
}

bool is_hex_digit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

} // namespace

bool whole_number(std::string_view text, int low, int high, int& out)
{
    if (text.empty() || text.size() > 9)
        return false;
    int n = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    if (n < low || n > high)
        return false;
    out = n;
    return true;
}

int hex_text_to_bytes(std::span<std::uint8_t> out, int& count, std::string_view text)
{
    int status = 0;
    std::size_t pos = 0;
    count = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == '\n' || text[pos] == '\r' || text[pos] == ' '))
            ++pos;
        if (pos + 1 >= text.size())
            break;
        if (!is_hex_digit(text[pos]) || !is_hex_digit(text[pos + 1]))
            status = -1;
        if (static_cast<std::size_t>(count) >= out.size())
            return -1;
        out[static_cast<std::size_t>(count)] =
            static_cast<std::uint8_t>((digit_value(text[pos]) * 16 + digit_value(text[pos + 1])) & 0xFF);
        ++count;
        pos += 3;
    }
    return status;
}

int file_exists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0 ? 1 : 0;
}

int read_text_file_into(const char* path, char* buffer, std::size_t capacity, std::size_t& length)
{
    length = 0;
    int fd;
    do
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    int rc = 0;
    bool end = false;
    while (!end) {
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        for (ssize_t i = 0; i < n && !end; ++i) {
            if (chunk[i] == '\0') {
                end = true;
            } else if (length + 1 >= capacity) {
                rc = 1;
                end = true;
            } else {
                buffer[length++] = chunk[i];
            }
        }
    }
    ::close(fd);
    return rc;
}

int write_text_file(const char* path, std::string_view content)
{
    int fd;
    do
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
    return 0;
}

} // namespace velkor::conv
