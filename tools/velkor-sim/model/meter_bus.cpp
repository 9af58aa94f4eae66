#include "meter_bus.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace velkor::sim {

namespace {

// Control fields with the FCB and FCV bits (0x20, 0x10) masked out.
constexpr std::uint8_t c_function_mask = 0x4F;
constexpr std::uint8_t c_snd_nke = 0x40;
constexpr std::uint8_t c_snd_ud = 0x43;
constexpr std::uint8_t c_req_ud1 = 0x4A;
constexpr std::uint8_t c_req_ud2 = 0x4B;
constexpr std::uint8_t c_fcb = 0x20;
constexpr std::uint8_t c_fcv = 0x10;

constexpr std::uint8_t ci_application_reset = 0x50;
constexpr std::uint8_t ci_data_send = 0x51;
constexpr std::uint8_t ci_select = 0x52;
constexpr std::uint8_t ci_baud_300 = 0xB8;  // up to 0xBF, 38400 Bd

constexpr std::uint32_t baud_by_code[8] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};

struct frame_view {
    bool is_short = false;
    std::uint8_t c = 0;
    std::uint8_t a = 0;
    std::uint8_t ci = 0;
    std::span<const std::uint8_t> data;  // user data after CI
};

// Layout and checksum of a request; false for anything a slave would drop.
bool read_frame(std::span<const std::uint8_t> f, frame_view& out)
{
    const std::size_t n = f.size();
    if (n == 5 && f[0] == 0x10 && f[4] == 0x16) {
        if (checksum_of(f) != f[3])
            return false;
        out.is_short = true;
        out.c = f[1];
        out.a = f[2];
        return true;
    }
    if (n >= 9 && f[0] == 0x68 && f[3] == 0x68 && f[1] == f[2] && n == std::size_t{f[1]} + 6 && f[n - 1] == 0x16) {
        if (checksum_of(f) != f[n - 2])
            return false;
        out.c = f[4];
        out.a = f[5];
        out.ci = f[6];
        out.data = f.subspan(7, n - 9);
        return true;
    }
    return false;
}

bool hears(const meter& m, std::uint32_t baud_rate)
{
    return !m.faults.silent && (baud_rate == 0 || m.baud_rate == 0 || m.baud_rate == baud_rate);
}

bool addressed(const meter& m, std::uint8_t a)
{
    if (a == broadcast_address || a == test_address)
        return true;
    if (a == selected_address)
        return m.selected;
    return a == m.primary_address;
}

// A selection mask byte of the identification number matches nibble by
// nibble, F being the wildcard; the other bytes match whole, FF the wildcard.
bool selection_matches(const meter& m, std::span<const std::uint8_t> mask)
{
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint8_t want = mask[i], have = m.secondary[i];
        if ((want & 0xF0) != 0xF0 && (want & 0xF0) != (have & 0xF0))
            return false;
        if ((want & 0x0F) != 0x0F && (want & 0x0F) != (have & 0x0F))
            return false;
    }
    for (std::size_t i = 4; i < 8; ++i) {
        if (mask[i] != 0xFF && mask[i] != m.secondary[i])
            return false;
    }
    return true;
}

struct note_builder {
    std::string& text;
    bool first = true;
    void add(const meter& m, const std::string& what)
    {
        text += first ? ": " : ", ";
        first = false;
        text += m.name;
        text += ' ';
        text += what;
    }
};

std::string numbered(const char* format, int a, int b = 0)
{
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

// The first meter to answer sets the reaction time of the bus answer.
void answered_by(const meter& m, bus_answer& out)
{
    if (out.answering++ == 0)
        out.delay_ms = m.delay_ms;
}

void answer_req_ud2(meter& m, const frame_view& f, bus_answer& out, note_builder& note)
{
    if (m.faults.no_data) {
        note.add(m, "keeps silent (fault no-data)");
        return;
    }
    if (m.telegrams.empty()) {
        note.add(m, "has no telegram");
        return;
    }
    if (m.faults.stop_after > 0 && m.sent_since_reset >= m.faults.stop_after) {
        note.add(m, "keeps silent (fault stop-after)");
        return;
    }
    const bool fcv = (f.c & c_fcv) != 0;
    const int fcb = (f.c & c_fcb) ? 1 : 0;
    const int count = static_cast<int>(m.telegrams.size());
    int index;
    if (fcv && m.last_telegram >= 0 && fcb == m.last_fcb) {
        index = m.last_telegram;
        note.add(m, numbered("repeats telegram %d/%d", index + 1, count));
    } else {
        index = m.next_telegram;
        m.next_telegram = (index + 1) % count;
        m.last_telegram = index;
        m.last_fcb = fcv ? fcb : -1;
        ++m.sent_since_reset;
        note.add(m, numbered("sends telegram %d/%d", index + 1, count));
    }
    const byte_string t = outgoing_telegram(m, index);
    out.bytes.insert(out.bytes.end(), t.begin(), t.end());
    answered_by(m, out);
}

// What a SND_UD asks of one addressed meter; false when the meter ignores it.
bool apply_snd_ud(meter& m, const frame_view& f, note_builder& note)
{
    if (f.ci == ci_application_reset) {
        restart(m);
        note.add(m, "resets its application");
        return true;
    }
    if (f.ci >= ci_baud_300 && f.ci <= ci_baud_300 + 7) {
        m.baud_rate = baud_by_code[f.ci - ci_baud_300];
        note.add(m, numbered("switches to %d Bd", static_cast<int>(m.baud_rate)));
        return true;
    }
    if (f.ci != ci_data_send)
        return false;
    const auto d = f.data;
    if (d.size() >= 3 && d[0] == 0x01 && d[1] == 0x7A) {
        if (d[2] > 250) {
            note.add(m, numbered("refuses primary address %d", d[2]));
            return false;
        }
        m.primary_address = d[2];
        note.add(m, numbered("takes primary address %d", d[2]));
        return true;
    }
    if (d.size() >= 10 && d[0] == 0x07 && d[1] == 0x79) {
        for (std::size_t i = 0; i < 8; ++i)
            m.secondary[i] = d[2 + i];
        note.add(m, "takes secondary address " + secondary_text(m.secondary));
        return true;
    }
    note.add(m, "acknowledges data");
    return true;
}

void acknowledge(const meter& m, bus_answer& out)
{
    out.bytes.push_back(ack);
    answered_by(m, out);
}

} // namespace

std::uint8_t checksum_of(std::span<const std::uint8_t> frame)
{
    std::size_t first;
    if (!frame.empty() && frame[0] == 0x10)
        first = 1;
    else if (!frame.empty() && frame[0] == 0x68)
        first = 4;
    else
        return 0;
    std::uint8_t sum = 0;
    for (std::size_t i = first; i + 2 < frame.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + frame[i]);
    return sum;
}

std::string hex_text(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 3);
    for (std::uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        s += digits[b >> 4];
        s += digits[b & 0x0F];
    }
    return s;
}

std::string secondary_text(const std::array<std::uint8_t, 8>& w)
{
    const unsigned code = w[4] | (w[5] << 8);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02x%02x%02x%02x-%c%c%c-%u-%u", w[3], w[2], w[1], w[0],
                  static_cast<char>(((code >> 10) & 0x3F) + 64), static_cast<char>(((code >> 5) & 0x1F) + 64),
                  static_cast<char>((code & 0x1F) + 64), unsigned{w[6]}, unsigned{w[7]});
    return buffer;
}

std::array<std::uint8_t, 8> secondary_bytes(std::uint32_t ident_bcd, const char* manufacturer, std::uint8_t version,
                                            std::uint8_t medium)
{
    const unsigned code = ((manufacturer[0] - 64u) & 0x1F) << 10 | ((manufacturer[1] - 64u) & 0x1F) << 5 |
                          ((manufacturer[2] - 64u) & 0x1F);
    return {static_cast<std::uint8_t>(ident_bcd),       static_cast<std::uint8_t>(ident_bcd >> 8),
            static_cast<std::uint8_t>(ident_bcd >> 16), static_cast<std::uint8_t>(ident_bcd >> 24),
            static_cast<std::uint8_t>(code),            static_cast<std::uint8_t>(code >> 8),
            version,                                    medium};
}

byte_string compose_telegram(std::uint8_t a_field, const std::array<std::uint8_t, 8>& secondary, std::uint8_t access,
                             std::uint8_t status, std::span<const std::uint8_t> records)
{
    constexpr std::size_t most_records = 255 - 15;
    if (records.size() > most_records)
        records = records.first(most_records);
    const auto l = static_cast<std::uint8_t>(15 + records.size());
    byte_string t(std::size_t{l} + 6, 0);
    const std::uint8_t head[] = {0x68, l, l, 0x68, 0x08, a_field, 0x72};
    std::copy(std::begin(head), std::end(head), t.begin());
    std::copy(secondary.begin(), secondary.end(), t.begin() + secondary_offset);
    t[15] = access;
    t[16] = status;
    std::copy(records.begin(), records.end(), t.begin() + header_end);
    t[t.size() - 1] = 0x16;
    t[t.size() - 2] = checksum_of(t);
    return t;
}

void restart(meter& m)
{
    m.next_telegram = 0;
    m.last_telegram = -1;
    m.last_fcb = -1;
    m.sent_since_reset = 0;
}

meter make_meter(std::string name, std::vector<byte_string> telegrams, int primary_address)
{
    meter m;
    m.name = std::move(name);
    m.telegrams = std::move(telegrams);
    if (!m.telegrams.empty()) {
        const byte_string& first = m.telegrams.front();
        if (first.size() > a_field_offset)
            m.primary_address = first[a_field_offset];
        for (std::size_t i = 0; i < 8 && secondary_offset + i < first.size(); ++i)
            m.secondary[i] = first[secondary_offset + i];
    }
    if (primary_address >= 0)
        m.primary_address = static_cast<std::uint8_t>(primary_address);
    return m;
}

byte_string outgoing_telegram(const meter& m, int index)
{
    byte_string t = m.telegrams.at(static_cast<std::size_t>(index));
    if (t.size() < secondary_offset + 8 + 2)
        return t;
    t[a_field_offset] = m.primary_address;
    for (std::size_t i = 0; i < 8; ++i)
        t[secondary_offset + i] = m.secondary[i];
    std::uint8_t cs = checksum_of(t);
    if (m.faults.bad_checksum_telegram == index + 1)
        cs = static_cast<std::uint8_t>(cs + 1);
    t[t.size() - 2] = cs;
    return t;
}

bus_answer answer_frame(meter_bus& bus, std::span<const std::uint8_t> frame, std::uint32_t baud_rate)
{
    bus_answer out;
    frame_view f;
    if (!read_frame(frame, f)) {
        out.note = frame.size() == 1 && frame[0] == ack ? "acknowledgement from the master, ignored"
                                                        : "no valid frame (layout or checksum), ignored";
        return out;
    }
    const bool broadcast = f.a == broadcast_address;
    note_builder note{out.note};
    const std::uint8_t function = f.c & c_function_mask;

    if (f.is_short && function == c_snd_nke) {
        out.note = numbered("SND_NKE to %d", f.a);
        for (meter& m : bus.meters) {
            if (!hears(m, baud_rate) || !addressed(m, f.a))
                continue;
            restart(m);
            // A link reset to the selected address ends the selection.
            if (f.a == selected_address)
                m.selected = false;
            note.add(m, f.a == selected_address ? "restarts, deselected" : "restarts");
            if (!broadcast)
                acknowledge(m, out);
        }
    } else if (f.is_short && (function == c_req_ud2 || function == c_req_ud1)) {
        const bool ud2 = function == c_req_ud2;
        out.note = ud2 ? numbered("REQ_UD2 to %d, FCB %d", f.a, (f.c & c_fcb) ? 1 : 0) : numbered("REQ_UD1 to %d", f.a);
        if (!broadcast) {
            for (meter& m : bus.meters) {
                if (!hears(m, baud_rate) || !addressed(m, f.a))
                    continue;
                if (ud2) {
                    answer_req_ud2(m, f, out, note);
                } else {
                    note.add(m, "has no alarm data");
                    acknowledge(m, out);
                }
            }
        }
    } else if (!f.is_short && function == c_snd_ud && f.ci == ci_select) {
        out.note = "selection";
        if (f.a == selected_address && f.data.size() >= 8) {
            for (meter& m : bus.meters) {
                if (!hears(m, baud_rate))
                    continue;
                const bool was = m.selected;
                m.selected = selection_matches(m, f.data.first(8));
                if (m.selected) {
                    note.add(m, "selected");
                    acknowledge(m, out);
                } else if (was) {
                    note.add(m, "deselected");
                }
            }
        }
    } else if (!f.is_short && function == c_snd_ud) {
        out.note = numbered("SND_UD to %d, CI %02X", f.a, f.ci);
        for (meter& m : bus.meters) {
            if (!hears(m, baud_rate) || !addressed(m, f.a))
                continue;
            if (apply_snd_ud(m, f, note) && !broadcast)
                acknowledge(m, out);
        }
    } else {
        out.note = numbered("control field %02X, ignored", f.c);
        return out;
    }
    if (note.first)
        out.note += ": no meter takes it";
    return out;
}

} // namespace velkor::sim
