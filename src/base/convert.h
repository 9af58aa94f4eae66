#pragma once
// Byte, hexadecimal and whole-file helpers shared by several subsystems.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/text.h"

namespace velkor::conv {

// Appends "%02X " for every byte: two upper-case digits and a blank, the last
// byte included. Returns false when the text had no room for all of it.
template <std::size_t N>
bool append_hex(text<N>& out, std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::uint8_t b : bytes) {
        if (out.capacity() - out.size() < 3)
            return false;
        const char pair[3] = {digits[b >> 4], digits[b & 0x0F], ' '};
        out.append(std::string_view(pair, 3));
    }
    return true;
}

template <std::size_t N>
bool hex_string(text<N>& out, std::span<const std::uint8_t> bytes)
{
    out.clear();
    return append_hex(out, bytes);
}

// Reads pairs of hex digits, each followed by one separator; blanks, CR and LF
// in front of a pair are skipped and a lone digit at the end is ignored.
// Characters that are not hex digits still give a value (code − '0' up to '@',
// code − 55 above). Stores at most out.size() bytes into out and their number
// into count. Returns 0, or -1 when a digit position held a character that is
// not a hex digit or the bytes did not fit.
int hex_text_to_bytes(std::span<std::uint8_t> out, int& count, std::string_view text);

// Plain decimal digits only (no sign, no blanks, at most nine) whose value
// lies in [low, high]: true with the value in out, which is otherwise untouched.
bool whole_number(std::string_view text, int low, int high, int& out);

inline std::uint8_t low_byte(std::uint32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
inline std::uint8_t second_byte(std::uint32_t value) { return static_cast<std::uint8_t>((value >> 8) & 0xFF); }

// 1 when the file system reports a status for the path, else 0.
int file_exists(const char* path);

// Reads the file's characters up to its end or its first zero byte.
// Returns 0, -1 when it cannot be opened, 1 when the file held more than the
// text can take (the text then holds what fits).
int read_text_file_into(const char* path, char* buffer, std::size_t capacity, std::size_t& length);

template <std::size_t N>
int read_text_file(const char* path, text<N>& out)
{
    std::size_t length = 0;
    const int rc = read_text_file_into(path, out.chars.data(), N, length);
    out.length = length;
    out.chars[length] = '\0';
    return rc;
}

// Replaces the file's content with the text (created when missing).
// Returns 0, or -1 when it cannot be opened for writing.
int write_text_file(const char* path, std::string_view content);

} // namespace velkor::conv
