#pragma once
// The syntax of the configuration file, shared by the controller's reader and
// the log's reader: lines of any length, "#" starts a comment that runs to the
// end of its line, tokens are separated by runs of blanks, tabs, CR and LF,
// and each token splits at its first "=".

#include <string_view>
#include <type_traits>

#include "base/text.h"

namespace velkor::log {

using token_handler = void (*)(void* context, std::string_view key, std::string_view value);

// Calls the handler for every token that holds a "=", left to right; tokens
// without one carry no value and are skipped. Returns 0, or -1 with errno set
// when the file cannot be opened.
int read_config_tokens(const char* path, token_handler handler, void* context);

template <typename F>
int for_each_config_token(const char* path, F&& on_token)
{
    using handler_type = std::remove_reference_t<F>;
    return read_config_tokens(
        path,
        [](void* context, std::string_view key, std::string_view value) {
            (*static_cast<handler_type*>(context))(key, value);
        },
        &on_token);
}

// An integer as atoi reads it: leading whitespace, an optional sign, the
// digits that follow; no digits give 0. Out-of-range values saturate.
int config_int(std::string_view value);

// Text settings hold 255 characters; longer values are cut there.
template <std::size_t N>
void config_text(text<N>& out, std::string_view value)
{
    out.assign(value);
}

} // namespace velkor::log
