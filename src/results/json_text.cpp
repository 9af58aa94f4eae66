#include "results/json_text.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace velkor::results {

namespace {

// Well-formed UTF-8 by its lead byte: the length of the sequence and the range
// of its second byte (continuation bytes are 80..BF otherwise).
struct utf8_lead {
    std::uint8_t first;
    std::uint8_t last;
    std::uint8_t length;
    std::uint8_t second_min;
    std::uint8_t second_max;
};

constexpr utf8_lead utf8_leads[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF},
    {0xE0, 0xE0, 3, 0xA0, 0xBF},  // no overlong forms
    {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F},  // no surrogates
    {0xEE, 0xEF, 3, 0x80, 0xBF},
    {0xF0, 0xF0, 4, 0x90, 0xBF},  // no overlong forms
    {0xF1, 0xF3, 4, 0x80, 0xBF},
    {0xF4, 0xF4, 4, 0x80, 0x8F},  // nothing above U+10FFFF
};

std::uint8_t byte_at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// Length of the valid UTF-8 sequence that starts at i, or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i)
{
    const std::uint8_t c = byte_at(s, i);
    for (const utf8_lead& lead : utf8_leads) {
        if (c < lead.first || c > lead.last)
            continue;
        if (s.size() - i < lead.length)
            return 0;
        const std::uint8_t second = byte_at(s, i + 1);
        if (second < lead.second_min || second > lead.second_max)
            return 0;
        for (std::size_t k = 2; k < lead.length; ++k) {
            const std::uint8_t next = byte_at(s, i + k);
            if (next < 0x80 || next > 0xBF)
                return 0;
        }
        return lead.length;
    }
    return 0;
}

void put(doc_file& out, std::string_view chars) { doc_put(out, chars); }

bool plain_ascii(std::uint8_t c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; }

void write_escape(doc_file& out, std::uint8_t c)
{
    if (c == '"') {
        put(out, "\\\"");
    } else if (c == '\\') {
        put(out, "\\\\");
    } else {
        char escaped[8];
        const int n = std::snprintf(escaped, sizeof escaped, "\\u00%02X", static_cast<unsigned>(c));
        put(out, {escaped, static_cast<std::size_t>(n)});
    }
}

} // namespace

bool doc_flush(doc_file& out)
{
    std::size_t done = 0;
    while (out.error == 0 && done < out.used) {
        const ssize_t n = ::write(out.fd, out.buffer.data() + done, out.used - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR)
            out.error = errno;
        else if (n == 0)
            out.error = EIO;
    }
    out.used = 0;
    return out.error == 0;
}

void doc_put(doc_file& out, std::string_view chars)
{
    while (!chars.empty() && out.error == 0) {
        const std::size_t n = std::min(chars.size(), out.buffer.size() - out.used);
        std::memcpy(out.buffer.data() + out.used, chars.data(), n);
        out.used += n;
        chars.remove_prefix(n);
        if (out.used == out.buffer.size())
            doc_flush(out);
    }
}

int doc_close(doc_file& out)
{
    if (out.fd < 0) {
        errno = EBADF;
        return -1;
    }
    doc_flush(out);
    if (::close(out.fd) != 0 && out.error == 0 && errno != EINTR)
        out.error = errno;
    out.fd = -1;
    out.used = 0;
    if (out.error == 0)
        return 0;
    errno = out.error;
    return -1;
}

void doc_discard(doc_file& out)
{
    if (out.fd >= 0)
        ::close(out.fd);
    out.fd = -1;
    out.used = 0;
}

void write_json_chars(doc_file& out, std::string_view value)
{
    std::size_t run = 0;  // start of the bytes that go out unchanged
    std::size_t i = 0;
    while (i < value.size()) {
        const std::uint8_t c = byte_at(value, i);
        if (plain_ascii(c)) {
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t n = utf8_sequence(value, i)) {
                i += n;
                continue;
            }
        }
        put(out, value.substr(run, i - run));
        write_escape(out, c);
        run = ++i;
    }
    put(out, value.substr(run));
}

void write_json_template(doc_file& out, std::string_view format, std::span<const json_arg> args)
{
    std::size_t next = 0;
    std::size_t run = 0;
    for (std::size_t i = 0; i + 1 < format.size(); ++i) {
        if (format[i] != '%' || next == args.size())
            continue;
        put(out, format.substr(run, i - run));
        const json_arg& arg = args[next++];
        if (arg.is_number) {
            char number[24];
            const int n = std::snprintf(number, sizeof number, "%" PRId64, arg.number);
            put(out, {number, static_cast<std::size_t>(n)});
        } else {
            write_json_chars(out, arg.chars);
        }
        run = i + 2;
        ++i;
    }
    put(out, format.substr(run));
}

} // namespace velkor::results
