#include "base/config_file.h"

#include <climits>
#include <cstdio>

namespace velkor::log {

namespace {

constexpr std::string_view separators = " \t\n\r";

// Holds a key, "=" and far more than the 255 characters a value keeps; a
// longer token is cut here and its value would be cut anyway.
constexpr std::size_t token_size = 1024;

struct token_reader {
    token_handler handler;
    void* context;
    char token[token_size];
    std::size_t used = 0;
    bool in_comment = false;

    void end_token()
    {
        const std::string_view t(token, used);
        used = 0;
        const std::size_t eq = t.find('=');
        if (eq != std::string_view::npos)
            handler(context, t.substr(0, eq), t.substr(eq + 1));
    }

    // One character at a time, so no read size ever splits a line: the rest of
    // a comment stays a comment and a token stays whole.
    void take(char c)
    {
        if (in_comment) {
            in_comment = c != '\n';
        } else if (c == '#') {
            end_token();
            in_comment = true;
        } else if (separators.find(c) != std::string_view::npos) {
            end_token();
        } else if (used < token_size) {
            token[used++] = c;
        }
    }
};

} // namespace

int read_config_tokens(const char* path, token_handler handler, void* context)
{
    std::FILE* f = std::fopen(path, "r");
    if (!f)
        return -1;
    token_reader reader{handler, context, {}};
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        for (std::size_t i = 0; i < n; ++i)
            reader.take(chunk[i]);
    reader.end_token();
    std::fclose(f);
    return 0;
}

int config_int(std::string_view value)
{
    std::size_t pos = 0;
    while (pos < value.size() && (value[pos] == ' ' || (value[pos] >= '\t' && value[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < value.size() && (value[pos] == '+' || value[pos] == '-'))
        negative = value[pos++] == '-';
    long long n = 0;
    while (pos < value.size() && value[pos] >= '0' && value[pos] <= '9') {
        n = n * 10 + (value[pos++] - '0');
        if (n > static_cast<long long>(INT_MAX) + 1)
            n = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-n);
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

} // namespace velkor::log
