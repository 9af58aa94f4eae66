#include "fuzz_support.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace velkor::fuzz {

const std::string& scratch_dir()
{
    static const std::string dir = [] {
        char path[] = "/tmp/velkor-fuzz-XXXXXX";
        if (!::mkdtemp(path))
            fail("cannot create a scratch folder");
        if (::chdir(path) != 0)
            fail("cannot enter the scratch folder");
        return std::string(path);
    }();
    return dir;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, std::string_view content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), static_cast<std::streamsize>(content.size()));
}

namespace {

struct json_reader {
    std::string_view s;
    std::size_t i = 0;
    int depth = 0;

    bool at_end() const { return i >= s.size(); }
    unsigned char peek() const { return at_end() ? 0 : static_cast<unsigned char>(s[i]); }
    void blanks()
    {
        while (!at_end() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++i;
    }
    bool take(char c)
    {
        if (peek() != static_cast<unsigned char>(c))
            return false;
        ++i;
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

    bool string()
    {
        if (!take('"'))
            return false;
        while (!at_end()) {
            const unsigned char c = peek();
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                ++i;
                const char e = static_cast<char>(peek());
                ++i;
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k, ++i)
                        if (!std::isxdigit(peek()))
                            return false;
                } else if (e == '\0' || std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos)
                    return false;
            } else if (c < 0x80)
                ++i;
            else if (!utf8())
                return false;
        }
        return false;
    }

    bool number()
    {
        take('-');
        if (take('0')) {
        } else if (peek() >= '1' && peek() <= '9') {
            while (std::isdigit(peek()))
                ++i;
        } else
            return false;
        if (take('.')) {
            if (!std::isdigit(peek()))
                return false;
            while (std::isdigit(peek()))
                ++i;
        }
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!std::isdigit(peek()))
                return false;
            while (std::isdigit(peek()))
                ++i;
        }
        return true;
    }

    bool literal(std::string_view word)
    {
        if (s.substr(i, word.size()) != word)
            return false;
        i += word.size();
        return true;
    }

    template <class Item>
    bool sequence(char open, char close, Item item)
    {
        if (!take(open) || ++depth > 64)
            return false;
        blanks();
        if (!take(close)) {
            do {
                blanks();
                if (!item())
                    return false;
                blanks();
            } while (take(','));
            if (!take(close))
                return false;
        }
        --depth;
        return true;
    }

    bool value()
    {
        blanks();
        switch (peek()) {
        case '{':
            return sequence('{', '}', [&] {
                if (!string())
                    return false;
                blanks();
                return take(':') && value();
            });
        case '[':
            return sequence('[', ']', [&] { return value(); });
        case '"':
            return string();
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

} // namespace

bool valid_json(std::string_view document)
{
    json_reader r{document};
    if (!r.value())
        return false;
    r.blanks();
    return r.at_end();
}

void require_json_file(const std::string& path)
{
    std::ifstream probe(path);
    if (!probe)
        return;
    const std::string document = read_file(path);
    if (!valid_json(document))
        fail("document is not valid JSON with valid UTF-8", document);
}

} // namespace velkor::fuzz
