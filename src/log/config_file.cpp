#include "log/config_file.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace velkor::log {

namespace {

constexpr std::size_t line_size = 10000; // 9,999 characters and the terminator
constexpr std::string_view separators = " \t\n\r";

void split_line(std::string_view line, token_handler handler, void* context)
{
    const std::size_t comment = line.find('#');
    if (comment != std::string_view::npos)
        line = line.substr(0, comment);
    std::size_t pos = 0;
    while (pos < line.size()) {
        pos = line.find_first_not_of(separators, pos);
        if (pos == std::string_view::npos)
            break;
        std::size_t end = line.find_first_of(separators, pos);
        if (end == std::string_view::npos)
            end = line.size();
        const std::string_view token = line.substr(pos, end - pos);
        const std::size_t eq = token.find('=');
        if (eq != std::string_view::npos)
            handler(context, token.substr(0, eq), token.substr(eq + 1));
        pos = end;
    }
}

} // namespace

int read_config_tokens(const char* path, token_handler handler, void* context)
{
    std::FILE* f = std::fopen(path, "r");
    if (!f)
        return -1;
    char line[line_size];
    while (std::fgets(line, sizeof line, f))
        split_line(std::string_view(line, std::strlen(line)), handler, context);
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
