#include "meter_reading.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>

#include "common/document_table.h"
#include "decode/describe.h"
#include "decode/header.h"
#include "decode/records.h"
#include "link/checks.h"

namespace velkor::poll {

namespace {

using decode::reading_kind;

constexpr std::size_t primary_at = 5, manufacturer_at = 11, version_at = 13, medium_at = 14, access_at = 15,
                      status_at = 16;

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The telegram is of the meter asked for: equal texts, where an F among the
// asked identification digits stands for any digit.
bool same_meter(const std::string& asked, std::string_view got)
{
    if (asked.size() != got.size())
        return false;
    for (std::size_t i = 0; i < asked.size(); ++i) {
        const char a = static_cast<char>(std::tolower(static_cast<unsigned char>(asked[i])));
        const char g = static_cast<char>(std::tolower(static_cast<unsigned char>(got[i])));
        if (a != g && !(i < 8 && a == 'f'))
            return false;
    }
    return true;
}

// "Fabrication No" -> "fabrication_no"
std::string slug(std::string_view text)
{
    std::string s;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)))
            s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        else if (!s.empty() && s.back() != '_')
            s += '_';
    }
    while (!s.empty() && s.back() == '_')
        s.pop_back();
    return s.empty() ? "record" : s;
}

// "flow_temperature" -> "Flow temperature"
std::string label_of(const std::string& key)
{
    std::string s = key;
    std::replace(s.begin(), s.end(), '_', ' ');
    if (!s.empty())
        s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s;
}

// Function, tariff, storage and subunit other than the plain current value
// are part of the key.
std::string qualified(std::string key, const decode::data_block& b)
{
    static const char* const functions[] = {"", "_max", "_min", "_error"};
    key += functions[static_cast<int>(b.function)];
    if (b.tariff != 0)
        key += "_tariff_" + std::to_string(b.tariff);
    if (b.storage != 0)
        key += "_storage_" + std::to_string(b.storage);
    if (b.subunit != 0)
        key += "_subunit_" + std::to_string(b.subunit);
    return key;
}

std::string trimmed_hex(const decode::record_text& hex)
{
    std::string s(hex.view());
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// "power low  permanent error  " -> "power low, permanent error"
std::string status_words(std::string_view status)
{
    std::string s;
    for (std::size_t at = 0; at < status.size();) {
        const std::size_t end = std::min(status.find("  ", at), status.size());
        if (end > at)
            s += (s.empty() ? "" : ", ") + std::string(status.substr(at, end - at));
        at = end + 2;
    }
    return s;
}

void add_record(const decode::record_table& table, int index, decode::telegram_view view,
                std::map<std::string, int>& keys, reading& out)
{
    decode::record_reading r;
    decode::read_record(index, table, view, r);
    if (r.kind == reading_kind::none)
        return;
    record_out rec;
    rec.kind = r.kind;
    rec.what = r.what;
    rec.unit = r.unit;
    rec.block = r.block;
    rec.error = std::string(r.error.view());
    std::string base = decode::quantity_name(r.what);
    switch (r.kind) {
    case reading_kind::number: {
        text<48> number;
        decode::format_number(r.value, number);
        rec.value = std::string(number.view());
        break;
    }
    case reading_kind::date_time:
        append_json_string(rec.value, r.iso.view());
        break;
    case reading_kind::no_value:
        rec.value = "null";
        break;
    case reading_kind::manufacturer: {
        decode::record_text dif, vif, data;
        decode::render_record_hex(index, table, view, dif, vif, data);
        append_json_string(rec.value, trimmed_hex(data));
        base = "manufacturer_specific";
        break;
    }
    case reading_kind::text:
    case reading_kind::none: {
        decode::record_text descriptor, unit, value, extended;
        decode::render_record(index, table, view, descriptor, unit, value, extended);
        append_json_string(rec.value, value.view());
        rec.description = std::string(descriptor.view());
        // What the VIFEs add, behind function, device, tariff and storage.
        std::string_view more = extended.view();
        for (int piece = 0; piece < 4 && !more.empty(); ++piece) {
            const std::size_t at = more.find(" / ");
            more = at == std::string_view::npos ? std::string_view() : more.substr(at + 3);
        }
        if (!more.empty())
            rec.description += " (" + std::string(more) + ")";
        if (base.empty())
            base = slug(descriptor.view());
        break;
    }
    }
    rec.key = qualified(base, r.block);
    const int seen = ++keys[rec.key];
    if (seen > 1)
        rec.key += "_" + std::to_string(seen);
    rec.label = label_of(rec.key);
    out.records.push_back(std::move(rec));
}

void fail(reading& out, std::string why)
{
    out.ok = false;
    out.error = std::move(why);
    out.records.clear();
}

} // namespace

bool raw_document_telegrams(const std::string& document, std::vector<telegram_bytes>& out)
{
    out.clear();
    tools::json_value root;
    if (!tools::parse_document(document, root))
        return false;
    const tools::json_value* list = root.member("telegrams");
    if (list == nullptr || list->kind != tools::json_value::array)
        return false;
    for (const auto& [unused, item] : list->members) {
        if (item.kind != tools::json_value::text)
            return false;
        telegram_bytes bytes;
        int high = -1;
        for (char c : item.content) {
            const int d = hex_digit(c);
            if (d < 0) {
                if (c != ' ')
                    return false;
                continue;
            }
            if (high < 0) {
                high = d;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(high * 16 + d));
                high = -1;
            }
        }
        if (high >= 0)
            return false;
        out.push_back(std::move(bytes));
    }
    return true;
}

void decode_readout(const std::vector<telegram_bytes>& telegrams, const std::string& asked, reading& out)
{
    out.records.clear();
    if (telegrams.empty())
        return fail(out, "the meter sent no valid telegram");
    std::map<std::string, int> keys;
    decode::record_table table;
    for (std::size_t t = 0; t < telegrams.size(); ++t) {
        const std::string number = "telegram " + std::to_string(t + 1);
        link::bus_context bus;
        if (telegrams[t].size() > bus.receive_buffer.size())
            return fail(out, number + " is longer than a telegram can be");
        std::copy(telegrams[t].begin(), telegrams[t].end(), bus.receive_buffer.begin());
        bus.receive_length = static_cast<std::int32_t>(telegrams[t].size());
        if (link::long_frame_errors(bus) != 0)
            return fail(out, number + " is no valid answer");
        const decode::telegram_view view = bus.received();

        decode::header_texts header;
        decode::render_header(view, header);
        if (!asked.empty() && !same_meter(asked, header.secondary.view()))
            return fail(out, number + " comes from " + std::string(header.secondary.view()) + ", not from " + asked);
        if (t == 0) {
            out.secondary = std::string(header.secondary.view());
            out.primary = view[primary_at];
            text<4> letters;
            decode::manufacturer_letters(static_cast<std::uint16_t>(view[manufacturer_at] | view[manufacturer_at + 1] << 8),
                                         letters);
            out.manufacturer = std::string(letters.view());
            out.version = view[version_at];
            out.medium = view[medium_at];
            out.access = view[access_at];
            out.status = view[status_at];
            out.status_text = status_words(header.status.view());
        }
        const int more = decode::walk_records(view, table);
        for (int i = 0; i < table.count; ++i)
            add_record(table, i, view, keys, out);
        if (more && t + 1 == telegrams.size())
            return fail(out, "the readout ends with " + number + ", which announces more");
    }
    out.ok = true;
    out.error.clear();
}

std::string reading_json(const reading& r)
{
    std::string j = "{\"time\":";
    append_json_string(j, r.time);
    j += ",\"meter\":";
    if (r.secondary.empty())
        j += "null";
    else
        append_json_string(j, r.secondary);
    if (!r.name.empty()) {
        j += ",\"name\":";
        append_json_string(j, r.name);
    }
    if (r.primary >= 0)
        j += ",\"primary\":" + std::to_string(r.primary);
    j += r.ok ? ",\"ok\":true" : ",\"ok\":false";
    if (!r.ok) {
        j += ",\"error\":";
        append_json_string(j, r.error);
        return j + "}";
    }
    j += ",\"manufacturer\":";
    append_json_string(j, r.manufacturer);
    j += ",\"medium\":";
    append_json_string(j, decode::medium_name(static_cast<std::uint8_t>(r.medium)));
    j += ",\"medium_code\":" + std::to_string(r.medium) + ",\"version\":" + std::to_string(r.version) +
         ",\"access\":" + std::to_string(r.access) + ",\"status\":" + std::to_string(r.status) + ",\"status_text\":";
    append_json_string(j, r.status_text);
    j += ",\"records\":[";
    for (std::size_t i = 0; i < r.records.size(); ++i) {
        const record_out& rec = r.records[i];
        j += i ? ",{\"key\":" : "{\"key\":";
        append_json_string(j, rec.key);
        if (rec.what != decode::quantity::none) {
            j += ",\"quantity\":";
            append_json_string(j, decode::quantity_name(rec.what));
        }
        if (!rec.description.empty()) {
            j += ",\"description\":";
            append_json_string(j, rec.description);
        }
        j += ",\"value\":" + rec.value;
        if (rec.unit != decode::base_unit::none) {
            j += ",\"unit\":";
            append_json_string(j, decode::unit_name(rec.unit));
        }
        if (!rec.error.empty()) {
            j += ",\"error\":";
            append_json_string(j, rec.error);
        }
        j += ",\"function\":";
        append_json_string(j, decode::function_name(rec.block.function));
        j += ",\"storage\":" + std::to_string(rec.block.storage) + ",\"tariff\":" + std::to_string(rec.block.tariff) +
             ",\"subunit\":" + std::to_string(rec.block.subunit) + "}";
    }
    return j + "]}";
}

void append_json_string(std::string& out, std::string_view text)
{
    static const char* const hex = "0123456789abcdef";
    const auto escape = [&](unsigned char c) {
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 0x0F];
    };
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            escape(c);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else {
            // A whole UTF-8 sequence stays; any other byte is escaped on its own.
            const std::size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            bool whole = n > 0 && i + n <= text.size();
            for (std::size_t k = 1; whole && k < n; ++k)
                whole = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            if (whole) {
                out.append(text.substr(i, n));
                i += n;
            } else {
                escape(c);
                ++i;
            }
        }
    }
    out += '"';
}

std::string utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    gmtime_r(&now, &t);
    char s[32];
    std::strftime(s, sizeof s, "%Y-%m-%dT%H:%M:%SZ", &t);
    return s;
}

} // namespace velkor::poll
