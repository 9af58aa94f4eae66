#pragma once
// The documents' templates filled in: "%d" takes a number, "%s" a text that is
// written as the inside of a JSON string. A template that does not match its
// arguments in number and kind does not compile.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

#include "base/text.h"

namespace velkor::results {

// A document on its way to a file: written through a plain descriptor from a
// fixed buffer, so no document costs a heap allocation. The first failure is
// kept and every later write is dropped, so the document is judged once at
// its close.
struct doc_file {
    int fd = -1;
    int error = 0;  // errno of the first failure, 0 while all went well
    std::size_t used = 0;
    std::array<char, 4096> buffer{};
};

void doc_put(doc_file& out, std::string_view chars);
// Writes out what is buffered; false (error set) when the file refused it.
bool doc_flush(doc_file& out);
// Flushes and closes. 0, or -1 with errno telling the first failure.
int doc_close(doc_file& out);
// Closes without judging: the document is abandoned.
void doc_discard(doc_file& out);

struct json_arg {
    bool is_number = false;
    std::int64_t number = 0;
    std::string_view chars;
};

template <class T>
inline constexpr char json_kind = std::is_integral_v<T> ? 'd' : 's';

template <class T>
json_arg make_json_arg(const T& value)
{
    if constexpr (std::is_integral_v<T>)
        return {true, static_cast<std::int64_t>(value), {}};
    else if constexpr (requires { value.view(); })
        return {false, 0, value.view()};
    else
        return {false, 0, std::string_view(value)};
}

template <class... Args>
struct json_template {
    std::string_view chars;

    consteval json_template(const char* format) : chars(format)
    {
        constexpr char kinds[] = {json_kind<Args>..., '\0'};
        std::size_t used = 0;
        for (std::size_t i = 0; i < chars.size(); ++i) {
            if (chars[i] != '%')
                continue;
            if (i + 1 == chars.size() || used == sizeof...(Args) || chars[i + 1] != kinds[used])
                throw "template placeholder does not match its argument";
            ++used;
            ++i;
        }
        if (used != sizeof...(Args))
            throw "template has fewer placeholders than arguments";
    }
};

// Writes the bytes of a value as they may stand between the quotes of a JSON
// string: '"' and '\' escaped, control characters and every byte that is not
// part of valid UTF-8 as \u00XX; valid UTF-8 unchanged.
void write_json_chars(doc_file& out, std::string_view value);

void write_json_template(doc_file& out, std::string_view format, std::span<const json_arg> args);

template <class... Args>
void json_print(doc_file& out, json_template<std::type_identity_t<Args>...> format, const Args&... args)
{
    const std::array<json_arg, sizeof...(Args)> values{make_json_arg(args)...};
    write_json_template(out, format.chars, values);
}

} // namespace velkor::results
