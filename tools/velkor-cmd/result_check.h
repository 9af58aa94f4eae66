#pragma once
// When is a result file the daemon writes the final answer? The daemon
// rewrites files while clients read them, so a read may catch a document
// half written, a slaves list of a search still running, or the message a
// multi-telegram readout leaves between two telegrams.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkor::cmd {

enum class result_state {
    incomplete,    // missing, empty or not (yet) one whole JSON document
    intermediate,  // whole, but more is to come: "Receive More", or a search list in state "run"
    final,
};

namespace detail {

struct json_reader {
    std::string_view s;
    std::size_t i = 0;
    int depth = 0;
    std::vector<std::string> top_keys;
    std::vector<std::pair<std::string, std::string>> top_strings;  // top-level members with string values

    void blanks()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }
    bool literal(std::string_view word)
    {
        if (s.substr(i, word.size()) != word)
            return false;
        i += word.size();
        return true;
    }
    // The daemon does not escape its texts, so any byte but the quote and
    // the backslash is taken inside a string; a backslash takes the next byte.
    bool string(std::string* out)
    {
        if (i >= s.size() || s[i] != '"')
            return false;
        ++i;
        while (i < s.size() && s[i] != '"') {
            if (s[i] == '\\') {
                if (++i >= s.size())
                    return false;
            }
            if (out)
                *out += s[i];
            ++i;
        }
        if (i >= s.size())
            return false;
        ++i;
        return true;
    }
    bool number()
    {
        const std::size_t start = i;
        if (i < s.size() && s[i] == '-')
            ++i;
        while (i < s.size() && ((s[i] >= '0' && s[i] <= '9') || s[i] == '.' || s[i] == 'e' || s[i] == 'E' ||
                                s[i] == '+' || s[i] == '-'))
            ++i;
        return i > start && s[i - 1] >= '0' && s[i - 1] <= '9';
    }
    bool value(std::string* string_out = nullptr)
    {
        blanks();
        if (i >= s.size() || depth > 64)
            return false;
        switch (s[i]) {
        case '{':
            return object();
        case '[':
            return array();
        case '"':
            return string(string_out);
        case 't':
            return literal("true");
        case 'f':
            return literal("false");
        case 'n':
            return literal("null");
        default:
            return number();
        }
    }
    bool object()
    {
        ++i;
        ++depth;
        blanks();
        if (i < s.size() && s[i] == '}') {
            ++i;
            --depth;
            return true;
        }
        for (;;) {
            blanks();
            std::string key, text;
            if (!string(&key))
                return false;
            blanks();
            if (i >= s.size() || s[i] != ':')
                return false;
            ++i;
            blanks();
            const bool is_string = i < s.size() && s[i] == '"';
            if (!value(&text))
                return false;
            if (depth == 1) {
                top_keys.push_back(key);
                if (is_string)
                    top_strings.emplace_back(std::move(key), std::move(text));
            }
            blanks();
            if (i < s.size() && s[i] == ',') {
                ++i;
                continue;
            }
            if (i < s.size() && s[i] == '}') {
                ++i;
                --depth;
                return true;
            }
            return false;
        }
    }
    bool array()
    {
        ++i;
        ++depth;
        blanks();
        if (i < s.size() && s[i] == ']') {
            ++i;
            --depth;
            return true;
        }
        for (;;) {
            if (!value())
                return false;
            blanks();
            if (i < s.size() && s[i] == ',') {
                ++i;
                continue;
            }
            if (i < s.size() && s[i] == ']') {
                ++i;
                --depth;
                return true;
            }
            return false;
        }
    }
};

// "Telegram %d, Receive More"
inline bool is_receive_more(std::string_view text)
{
    constexpr std::string_view head = "Telegram ", tail = ", Receive More";
    if (text.size() <= head.size() + tail.size() || text.substr(0, head.size()) != head ||
        text.substr(text.size() - tail.size()) != tail)
        return false;
    for (char c : text.substr(head.size(), text.size() - head.size() - tail.size())) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace detail

inline result_state judge_result(std::string_view document)
{
    detail::json_reader r;
    r.s = document;
    r.blanks();
    if (r.i >= document.size() || document[r.i] != '{' || !r.value())
        return result_state::incomplete;
    r.blanks();
    if (r.i != document.size())
        return result_state::incomplete;
    bool ended = false;
    for (const auto& [key, text] : r.top_strings) {
        if (key == "data_response" && detail::is_receive_more(text))
            return result_state::intermediate;
        if (key == "state")
            ended = text == "end" || text == "incomplete";
    }
    bool slaves_list = false;
    for (const std::string& key : r.top_keys)
        slaves_list = slaves_list || key == "slaves";
    if (slaves_list && !ended)
        return result_state::intermediate;
    return result_state::final;
}

// A search that could not cover the bus: its list is final but not the whole bus.
inline bool search_incomplete(std::string_view document)
{
    return document.find("\"state\":\"incomplete\"") != std::string_view::npos;
}

} // namespace velkor::cmd
