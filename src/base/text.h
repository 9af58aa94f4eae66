#pragma once
// Fixed-capacity text: the one way the daemon builds strings. It lives in place
// (no heap), is always zero-terminated, and every write is bounded: what does
// not fit is cut at the capacity and never written past it.

#include <array>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace velkor {

// View of a zero-terminated field of fixed size that may lack its terminator.
inline std::string_view field_view(const char* field, std::size_t size)
{
    return {field, ::strnlen(field, size)};
}

template <std::size_t Size>
struct text {
    static_assert(Size >= 2);

    std::array<char, Size> chars{};
    std::size_t length = 0;

    static constexpr std::size_t capacity() { return Size - 1; }

    text() = default;
    text(std::string_view s) { assign(s); }

    const char* c_str() const { return chars.data(); }
    std::string_view view() const { return {chars.data(), length}; }
    std::size_t size() const { return length; }
    bool empty() const { return length == 0; }
    char operator[](std::size_t i) const { return i < length ? chars[i] : '\0'; }
    bool full() const { return length == capacity(); }

    void clear()
    {
        length = 0;
        chars[0] = '\0';
    }

    text& append(std::string_view s)
    {
        std::size_t n = s.size();
        if (n > capacity() - length)
            n = capacity() - length;
        if (n != 0)  // an empty view may carry a null pointer, which memcpy must never see
            std::memcpy(chars.data() + length, s.data(), n);
        length += n;
        chars[length] = '\0';
        return *this;
    }

    text& append(char c) { return append(std::string_view(&c, 1)); }

    text& assign(std::string_view s)
    {
        clear();
        return append(s);
    }

    __attribute__((format(printf, 2, 3))) text& appendf(const char* format, ...)
    {
        va_list args;
        va_start(args, format);
        vappendf(format, args);
        va_end(args);
        return *this;
    }

    __attribute__((format(printf, 2, 3))) text& format(const char* format, ...)
    {
        clear();
        va_list args;
        va_start(args, format);
        vappendf(format, args);
        va_end(args);
        return *this;
    }

    text& vappendf(const char* format, va_list args)
    {
        const std::size_t room = Size - length;
        const int n = std::vsnprintf(chars.data() + length, room, format, args);
        if (n > 0)
            length += static_cast<std::size_t>(n) < room ? static_cast<std::size_t>(n) : room - 1;
        chars[length] = '\0';
        return *this;
    }

    // Drops the first n characters.
    void erase_front(std::size_t n)
    {
        if (n > length)
            n = length;
        std::memmove(chars.data(), chars.data() + n, length - n);
        length -= n;
        chars[length] = '\0';
    }

    // Cuts the text to n characters.
    void truncate(std::size_t n)
    {
        if (n < length) {
            length = n;
            chars[length] = '\0';
        }
    }

    bool operator==(std::string_view s) const { return view() == s; }
};

} // namespace velkor
