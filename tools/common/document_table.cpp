#include "document_table.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace velkor::tools {
namespace {

// The daemon does not escape its texts; a backslash only protects the byte after it.
struct parser {
    std::string_view s;
    std::size_t i = 0;

    void blanks()
    {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r'))
            ++i;
    }
    bool string(std::string& out)
    {
        if (i >= s.size() || s[i] != '"')
            return false;
        for (++i; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && ++i >= s.size())
                return false;
            out += s[i];
        }
        return i++ < s.size();
    }
    bool value(json_value& v, int depth)
    {
        blanks();
        if (i >= s.size() || depth > 32)
            return false;
        if (s[i] == '"') {
            v.kind = json_value::text;
            return string(v.content);
        }
        if (s[i] == '{' || s[i] == '[') {
            const bool is_object = s[i] == '{';
            const char close = is_object ? '}' : ']';
            v.kind = is_object ? json_value::object : json_value::array;
            ++i;
            blanks();
            if (i < s.size() && s[i] == close)
                return ++i, true;
            for (;;) {
                std::string key;
                blanks();
                if (is_object) {
                    if (!string(key))
                        return false;
                    blanks();
                    if (i >= s.size() || s[i++] != ':')
                        return false;
                }
                json_value item;
                if (!value(item, depth + 1))
                    return false;
                v.members.emplace_back(std::move(key), std::move(item));
                blanks();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                return i < s.size() && s[i++] == close;
            }
        }
        const std::size_t start = i;
        while (i < s.size() && std::string_view(",}] \t\r\n").find(s[i]) == std::string_view::npos)
            ++i;
        v.content = std::string(s.substr(start, i - start));
        return i > start;
    }
};

bool parse(std::string_view document, json_value& root)
{
    parser p{document};
    if (!p.value(root, 0) || root.kind != json_value::object)
        return false;
    p.blanks();
    return p.i == document.size();
}

// Column width in characters, not bytes: units such as "°C" are UTF-8.
std::size_t width(const std::string& s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string heading(const std::string& key)
{
    static const struct {
        const char* key;
        const char* heading;
    } names[] = {{"tel", "telegram"},      {"rec", "record"},
                 {"cnt", "count"},         {"sec_address", "secondary address"},
                 {"prim_address", "primary address"}};
    for (const auto& n : names)
        if (key == n.key)
            return n.heading;
    return key;
}

using row = std::vector<std::string>;

void aligned(const std::vector<row>& rows, std::string& out)
{
    std::vector<std::size_t> widths;
    for (const row& r : rows)
        for (std::size_t c = 0; c < r.size(); ++c) {
            widths.resize(std::max(widths.size(), r.size()));
            widths[c] = std::max(widths[c], width(r[c]));
        }
    for (const row& r : rows) {
        std::string line;
        for (std::size_t c = 0; c < r.size(); ++c) {
            line += r[c];
            if (c + 1 < r.size())
                line.append(widths[c] - width(r[c]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
}

// Rows of objects under their keys; the first object's keys are the columns.
void object_rows(const std::vector<const json_value*>& objects, std::string& out)
{
    if (objects.empty())
        return;
    std::vector<row> rows(1);
    for (const auto& [key, value] : objects.front()->members)
        rows[0].push_back(heading(key));
    for (const json_value* o : objects) {
        row r;
        for (const auto& [key, value] : objects.front()->members) {
            const json_value* cell = o->member(key);
            r.push_back(cell ? cell->content : "");
        }
        rows.push_back(std::move(r));
    }
    aligned(rows, out);
}

void scalar_members(const json_value& root, std::string& out)
{
    std::vector<row> rows;
    for (const auto& [key, value] : root.members) {
        if (value.kind == json_value::text || value.kind == json_value::scalar)
            rows.push_back({key, value.content});
        // A list of texts, such as the telegrams of GET_RAW_DATA: one row each.
        if (value.kind == json_value::array)
            for (std::size_t i = 0; i < value.members.size(); ++i)
                if (value.members[i].second.kind == json_value::text)
                    rows.push_back({i == 0 ? key : "", value.members[i].second.content});
    }
    aligned(rows, out);
}

} // namespace

bool parse_document(std::string_view document, json_value& root) { return parse(document, root); }

bool document_table(std::string_view document, std::string& out)
{
    json_value root;
    if (!parse(document, root))
        return false;
    std::vector<const json_value*> objects;
    if (const json_value* records = root.member("records"); records && records->kind == json_value::array) {
        for (const auto& telegram : records->members)
            for (const auto& record : telegram.second.members)
                if (record.second.kind == json_value::object)
                    objects.push_back(&record.second);
        scalar_members(root, out);
        out += "\n";
    } else if (const json_value* slaves = root.member("slaves"); slaves && slaves->kind == json_value::array) {
        for (const auto& slave : slaves->members)
            if (slave.second.kind == json_value::object)
                objects.push_back(&slave.second);
        if (objects.empty())
            out += "no slaves\n";
    } else {
        scalar_members(root, out);
    }
    object_rows(objects, out);
    return true;
}

std::string progress_text(std::string_view document)
{
    json_value root;
    if (!parse(document, root))
        return "";
    if (const json_value* slaves = root.member("slaves"); slaves && slaves->kind == json_value::array) {
        const json_value* probe = root.member("progress");
        std::string text = probe ? probe->content : "";
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return "probe " + (text.empty() ? std::string("-") : text) + ", " + std::to_string(slaves->members.size()) +
               " found";
    }
    if (const json_value* answer = root.member("data_response"); answer && answer->kind == json_value::text) {
        constexpr std::string_view head = "Telegram ";
        const std::string& t = answer->content;
        if (t.compare(0, head.size(), head) == 0) {
            const std::size_t end = t.find(',');
            return t.substr(head.size(), end - head.size()) + " telegram(s) received";
        }
    }
    return "";
}

} // namespace velkor::tools
