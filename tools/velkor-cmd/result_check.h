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

// One JSON reader for two uses. Strict, it holds a document to RFC 8259 with
// valid UTF-8, as the daemon must write it. Lenient, as velkor-cmd reads an
// answer: the daemon's texts were not always escaped, so a string takes any
// byte but the quote, a backslash takes the byte after it, and a number is
// any run of its characters that ends in a digit. Both collect the top-level
// keys and string values.
struct json_reader {
    std::string_view s;
    bool strict = false;
    std::size_t i = 0;
    int depth = 0;
    std::vector<std::string> top_keys;
    std::vector<std::pair<std::string, std::string>> top_strings;  // top-level members with string values

    bool at_end() const { return i >= s.size(); }
    unsigned char peek() const { return at_end() ? 0 : static_cast<unsigned char>(s[i]); }
    static bool digit(unsigned char c) { return c >= '0' && c <= '9'; }
    void blanks()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++i;
    }
    bool take(char c)
    {
        if (at_end() || s[i] != c)
            return false;
        ++i;
        return true;
    }
    bool literal(std::string_view word)
    {
        if (s.substr(i, word.size()) != word)
            return false;
        i += word.size();
        return true;
    }

    // One UTF-8 sequence, well-formed (no overlong forms, surrogates or
    // code points above U+10FFFF).
    bool utf8()
    {
        const unsigned char c = peek();
        std::size_t n;
        unsigned lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF)
            n = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            n = 3;
            if (c == 0xE0)
                lo = 0xA0;
            if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            n = 4;
            if (c == 0xF0)
                lo = 0x90;
            if (c == 0xF4)
                hi = 0x8F;
        } else
            return false;
        if (s.size() - i < n)
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xBF))
                return false;
        }
        i += n;
        return true;
    }

    // After the backslash.
    bool escape(std::string* out)
    {
        if (at_end())
            return false;
        const char e = s[i++];
        if (strict && e == 'u') {
            for (int k = 0; k < 4; ++k, ++i) {
                const unsigned char h = peek();
                if (!digit(h) && !((h | 0x20) >= 'a' && (h | 0x20) <= 'f'))
                    return false;
            }
        } else if (strict && std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
            return false;
        }
        if (out)
            *out += e;
        return true;
    }

    bool string(std::string* out)
    {
        if (!take('"'))
            return false;
        while (!at_end()) {
            const unsigned char c = peek();
            const std::size_t from = i;
            if (c == '"') {
                ++i;
                return true;
            }
            if (c == '\\') {
                ++i;
                if (!escape(out))
                    return false;
                continue;
            }
            if (strict && (c < 0x20 || (c >= 0x80 && !utf8())))
                return false;
            if (i == from)
                ++i;
            if (out)
                out->append(s.substr(from, i - from));
        }
        return false;
    }

    bool number()
    {
        const std::size_t start = i;
        if (!strict) {
            take('-');
            while (digit(peek()) || peek() == '.' || peek() == 'e' || peek() == 'E' || peek() == '+' || peek() == '-')
                ++i;
            return i > start && digit(static_cast<unsigned char>(s[i - 1]));
        }
        take('-');
        if (take('0')) {
        } else if (peek() >= '1' && peek() <= '9') {
            while (digit(peek()))
                ++i;
        } else
            return false;
        if (take('.')) {
            if (!digit(peek()))
                return false;
            while (digit(peek()))
                ++i;
        }
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digit(peek()))
                return false;
            while (digit(peek()))
                ++i;
        }
        return true;
    }

    // An object or an array: its members separated by commas.
    template <class Member>
    bool sequence(char open, char close, Member member)
    {
        if (!take(open) || ++depth > 64)
            return false;
        blanks();
        if (!take(close)) {
            do {
                blanks();
                if (!member())
                    return false;
                blanks();
            } while (take(','));
            if (!take(close))
                return false;
        }
        --depth;
        return true;
    }

    bool value(std::string* string_out = nullptr)
    {
        blanks();
        switch (peek()) {
        case '{':
            return sequence('{', '}', [&] {
                std::string key, text;
                if (!string(&key))
                    return false;
                blanks();
                if (!take(':'))
                    return false;
                blanks();
                const bool is_string = peek() == '"';
                if (!value(&text))
                    return false;
                if (depth == 1) {
                    top_keys.push_back(key);
                    if (is_string)
                        top_strings.emplace_back(std::move(key), std::move(text));
                }
                return true;
            });
        case '[':
            return sequence('[', ']', [&] { return value(); });
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

// The document is one JSON value (RFC 8259) and its strings valid UTF-8.
inline bool valid_json(std::string_view document)
{
    detail::json_reader r;
    r.s = document;
    r.strict = true;
    if (!r.value())
        return false;
    r.blanks();
    return r.at_end();
}

inline result_state judge_result(std::string_view document)
{
    detail::json_reader r;
    r.s = document;
    r.blanks();
    if (r.peek() != '{' || !r.value())
        return result_state::incomplete;
    r.blanks();
    if (!r.at_end())
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
