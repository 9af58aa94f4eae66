#include "bus_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/convert.h"

namespace velkor::sim {

namespace {

constexpr std::size_t min_telegram_l = 15;  // C, A, CI and the 12-byte header

struct pending_meter {
    int line = 0;
    std::string name;
    int address = -1;
    std::uint32_t baud_rate = 0;
    meter_faults faults;
    int delay_ms = -1;
    int bad_checksum_line = 0;
    std::vector<byte_string> telegrams;
    std::vector<int> telegram_lines;
};

struct parser {
    meter_bus& bus;
    parse_error& error;
    std::vector<pending_meter> meters;
    byte_string telegram;  // in progress
    int telegram_line = 0;

    bool fail(int line, std::string message)
    {
        error.line = line;
        error.message = std::move(message);
        return false;
    }
};

std::vector<std::string_view> split_words(std::string_view line)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r'))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
            ++i;
        if (i > start)
            words.push_back(line.substr(start, i - start));
    }
    return words;
}


int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string quoted(std::string_view s)
{
    std::string q;
    q.reserve(s.size() + 2);
    q += '"';
    q.append(s);
    q += '"';
    return q;
}

std::string byte_hex(std::uint8_t b)
{
    char buffer[4];
    std::snprintf(buffer, sizeof buffer, "%02X", b);
    return buffer;
}

// The telegram is whole: its fixed bytes must be those of an RSP_UD.
bool check_telegram(parser& p)
{
    const byte_string& t = p.telegram;
    const int line = p.telegram_line;
    if (t.back() != 0x16)
        return p.fail(line, "telegram does not end with 16 (ends with " + byte_hex(t.back()) + ")");
    if ((t[4] & 0xCF) != 0x08)
        return p.fail(line, "C field " + byte_hex(t[4]) + " is not RSP_UD (08)");
    if (t[6] != 0x72)
        return p.fail(line, "CI field " + byte_hex(t[6]) + " is not a variable-data response (72)");
    const std::uint8_t cs = checksum_of(t);
    if (t[t.size() - 2] != cs)
        return p.fail(line, "checksum is " + byte_hex(t[t.size() - 2]) + ", the bytes sum to " + byte_hex(cs));
    pending_meter& m = p.meters.back();
    m.telegrams.push_back(t);
    m.telegram_lines.push_back(line);
    p.telegram.clear();
    return true;
}

bool hex_line(parser& p, int line, const std::vector<std::string_view>& words)
{
    if (p.meters.empty())
        return p.fail(line, "telegram bytes before the first \"meter\" line");
    bool ended_here = false;
    for (std::string_view w : words) {
        if (w.size() % 2 != 0)
            return p.fail(line, "bad hex " + quoted(w) + ": not pairs of hex digits");
        for (std::size_t i = 0; i < w.size(); i += 2) {
            const int high = hex_digit(w[i]), low = hex_digit(w[i + 1]);
            if (high < 0 || low < 0)
                return p.fail(line, "bad hex " + quoted(w));
            if (ended_here)
                return p.fail(line, "bytes after the end of a telegram on the same line (its L field gives " +
                                        std::to_string(std::size_t{p.meters.back().telegrams.back()[1]} + 6) +
                                        " bytes)");
            const auto b = static_cast<std::uint8_t>(high * 16 + low);
            if (p.telegram.empty()) {
                p.telegram_line = line;
                if (b != 0x68)
                    return p.fail(line, "a telegram starts with 68, not " + byte_hex(b));
            }
            p.telegram.push_back(b);
            const byte_string& t = p.telegram;
            if (t.size() == 4 && (t[1] != t[2] || t[3] != 0x68))
                return p.fail(p.telegram_line, "telegram does not start 68 L L 68");
            if (t.size() == 4 && t[1] < min_telegram_l)
                return p.fail(p.telegram_line, "L field " + byte_hex(t[1]) + " too small for a telegram header");
            if (t.size() >= 4 && t.size() == std::size_t{t[1]} + 6) {
                if (!check_telegram(p))
                    return false;
                ended_here = true;
            }
        }
    }
    return true;
}

bool telegram_unfinished(parser& p)
{
    if (p.telegram.empty())
        return false;
    std::string message = "telegram ends early: " + std::to_string(p.telegram.size()) + " bytes";
    if (p.telegram.size() >= 2)
        message += ", its L field gives " + std::to_string(std::size_t{p.telegram[1]} + 6);
    p.fail(p.telegram_line, message);
    return true;
}

bool finish_meter(parser& p)
{
    if (p.meters.empty())
        return true;
    if (telegram_unfinished(p))
        return false;
    pending_meter& m = p.meters.back();
    if (m.telegrams.empty())
        return p.fail(m.line, "meter " + quoted(m.name) + " has no telegram");
    if (m.faults.bad_checksum_telegram > static_cast<int>(m.telegrams.size()))
        return p.fail(m.bad_checksum_line, "bad-checksum " + std::to_string(m.faults.bad_checksum_telegram) +
                                               ", but the meter has " + std::to_string(m.telegrams.size()) +
                                               " telegram(s)");
    if (m.address < 0 && m.telegrams.front()[a_field_offset] > 250)
        return p.fail(m.telegram_lines.front(), "A field " + std::to_string(m.telegrams.front()[a_field_offset]) +
                                                     " is no primary address (0..250): give one with \"address\"");
    meter made = make_meter(m.name, m.telegrams, m.address);
    made.baud_rate = m.baud_rate;
    made.faults = m.faults;
    made.delay_ms = m.delay_ms;
    p.bus.meters.push_back(std::move(made));
    return true;
}

// Bus-wide, so allowed anywhere between telegrams.
bool line_switch(parser& p, int line, const std::vector<std::string_view>& words)
{
    if (words.size() == 2 && words[1] == "echo") {
        p.bus.line.echo = true;
        return true;
    }
    if (words.size() < 3 || words[1] != "noise")
        return p.fail(line, "\"line\" takes echo, or noise and its bytes in hex");
    byte_string noise;
    for (std::size_t k = 2; k < words.size(); ++k) {
        const std::string_view w = words[k];
        for (std::size_t i = 0; i < w.size(); i += 2) {
            const int high = hex_digit(w[i]), low = i + 1 < w.size() ? hex_digit(w[i + 1]) : -1;
            if (high < 0 || low < 0)
                return p.fail(line, "bad hex " + quoted(w) + " after \"line noise\"");
            noise.push_back(static_cast<std::uint8_t>(high * 16 + low));
        }
    }
    p.bus.line.noise = std::move(noise);
    return true;
}

bool keyword_line(parser& p, int line, const std::vector<std::string_view>& words)
{
    const std::string_view key = words[0];
    if (key == "meter") {
        if (!finish_meter(p))
            return false;
        if (words.size() != 2)
            return p.fail(line, "\"meter\" takes one word, the meter's name");
        for (const pending_meter& other : p.meters) {
            if (other.name == words[1])
                return p.fail(line, "meter name " + quoted(words[1]) + " already used on line " +
                                        std::to_string(other.line));
        }
        p.meters.push_back({});
        p.meters.back().line = line;
        p.meters.back().name = std::string(words[1]);
        return true;
    }
    if (telegram_unfinished(p))
        return false;
    if (key == "line")
        return line_switch(p, line, words);
    if (p.meters.empty())
        return p.fail(line, quoted(key) + " before the first \"meter\" line");
    pending_meter& m = p.meters.back();
    int value = 0;
    if (key == "address") {
        if (words.size() != 2 || !conv::whole_number(words[1], 0, 250, value))
            return p.fail(line, "\"address\" takes a primary address 0..250");
        m.address = value;
        return true;
    }
    if (key == "baud") {
        static constexpr int rates[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
        bool known = false;
        if (words.size() == 2 && conv::whole_number(words[1], 0, 38400, value)) {
            for (int r : rates)
                known = known || r == value;
        }
        if (!known)
            return p.fail(line, "\"baud\" takes 300, 600, 1200, 2400, 4800, 9600, 19200 or 38400");
        m.baud_rate = static_cast<std::uint32_t>(value);
        return true;
    }
    if (key == "delay") {
        if (words.size() != 2 || !conv::whole_number(words[1], 0, 10000, value))
            return p.fail(line, "\"delay\" takes the milliseconds 0..10000 before the meter answers");
        m.delay_ms = value;
        return true;
    }
    if (key == "fault") {
        const std::string_view kind = words.size() >= 2 ? words[1] : std::string_view{};
        if (words.size() == 2 && kind == "silent") {
            m.faults.silent = true;
            return true;
        }
        if (words.size() == 2 && kind == "no-data") {
            m.faults.no_data = true;
            return true;
        }
        if (kind == "bad-checksum" || kind == "stop-after") {
            if (words.size() != 3 || !conv::whole_number(words[2], 1, 9999, value))
                return p.fail(line, quoted(kind) + " takes a telegram count from 1");
            if (kind == "bad-checksum") {
                m.faults.bad_checksum_telegram = value;
                m.bad_checksum_line = line;
            } else {
                m.faults.stop_after = value;
            }
            return true;
        }
        return p.fail(line, "unknown fault: use silent, no-data, bad-checksum K or stop-after K");
    }
    return p.fail(line, "unknown keyword " + quoted(key));
}

bool is_keyword(std::string_view w)
{
    // None of these is a run of hex digit pairs, so a hex line never looks like one.
    return w == "meter" || w == "address" || w == "baud" || w == "fault" || w == "line" || w == "delay";
}

bool is_hex_word(std::string_view w)
{
    for (char c : w) {
        if (hex_digit(c) < 0)
            return false;
    }
    return true;
}

} // namespace

std::string describe(const parse_error& error)
{
    if (error.line <= 0)
        return error.message;
    return "line " + std::to_string(error.line) + ": " + error.message;
}

bool parse_bus_text(std::string_view text, meter_bus& bus, parse_error& error)
{
    meter_bus result;
    parser p{result, error, {}, {}, 0};
    int line = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        ++line;
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view content = text.substr(start, end - start);
        start = end + 1;
        const std::size_t comment = content.find('#');
        if (comment != std::string_view::npos)
            content = content.substr(0, comment);
        const std::vector<std::string_view> words = split_words(content);
        if (words.empty())
            continue;
        bool ok;
        if (is_keyword(words[0]))
            ok = keyword_line(p, line, words);
        else if (is_hex_word(words[0]) || words[0].size() <= 2 || (words[0][0] >= '0' && words[0][0] <= '9'))
            ok = hex_line(p, line, words);
        else
            ok = p.fail(line, "unknown keyword " + quoted(words[0]));
        if (!ok)
            return false;
    }
    if (!finish_meter(p))
        return false;
    bus = std::move(result);
    return true;
}

bool read_bus_file(const std::string& path, meter_bus& bus, parse_error& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error.line = 0;
        error.message = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return parse_bus_text(content.str(), bus, error);
}

} // namespace velkor::sim
