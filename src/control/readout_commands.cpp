// Reading a meter telegram by telegram: GET_DATA, GET_STRUCT_DATA, GET_RAW_DATA.

#include <cstdio>

#include "base/convert.h"
#include "base/trace.h"
#include "control/command.h"
#include "control/readout.h"
#include "decode/header.h"
#include "decode/records.h"
#include "link/checks.h"
#include "link/frames.h"

namespace velkor::control {

namespace {

enum class readout_outcome { success, no_answer, invalid };

// SND_NKE to all, then the addressing rule; false when the slave is not there.
bool start_readout(command& c)
{
    link::build_snd_nke(c.d.bus, link::broadcast_address);
    exchange(c);
    return address_target_slave(c);
}

// Requests the next telegram. Nothing received, also when the line was lost
// or an answer came from another slave, is no answer; anything else that is no
// valid telegram is invalid.
readout_outcome request_telegram(command& c)
{
    link::build_req_ud2(c.d.bus, static_cast<std::uint8_t>(c.target), c.fcb);
    exchange(c);
    if (c.d.bus.receive_length == 0)
        return readout_outcome::no_answer;
    return link::check_long_frame(c.d.bus) ? readout_outcome::success : readout_outcome::invalid;
}

// Whether another telegram is to be read after the count-th: the slave's flag,
// the client's limit (0 = all) and the bound no real meter reaches.
bool more_after(command& c, bool more, int count, int limit)
{
    if (limit != 0 && count >= limit)
        return false;
    if (more && count >= max_telegrams) {
        c.message.format("%s: slave %s announces more than %d telegrams, readout cut", c.name.c_str(),
                         c.secAdr.c_str(), max_telegrams);
        report(c, __LINE__, 1);
        return false;
    }
    return more;
}

// The addressed slave's telegrams one after another, each accepted one
// handed to the rendering: read() renders what it needs first and gives the
// slave's more-flag, write() puts out the telegram with the flag as it stands
// after the limits. Ends after the last telegram, at the limit or at the
// first failure; count tells how many were taken.
template <class Rendering>
readout_outcome read_telegrams(command& c, int limit, Rendering& rendering, int& count)
{
    for (;;) {
        const readout_outcome outcome = request_telegram(c);
        if (outcome != readout_outcome::success)
            return outcome;
        const decode::telegram_view telegram = c.d.bus.received();
        const bool announced = rendering.read(telegram);
        ++count;
        const bool more = more_after(c, announced, count, limit);
        rendering.write(c, telegram, count, more);
        c.fcb ^= 1;
        if (!more)
            return readout_outcome::success;
    }
}

void outcome_message(command& c, readout_outcome outcome, int count)
{
    const char* n = c.name.c_str();
    if (outcome == readout_outcome::success)
        c.message.format("%s: got %d data-telegram(s) from slave %s", n, count, c.secAdr.c_str());
    else if (outcome == readout_outcome::no_answer)
        c.message.format("%s: no answer from selected slave %s", n, c.secAdr.c_str());
    else
        c.message.format("%s: data-telegram %d from slave %s invalid", n, count + 1, c.secAdr.c_str());
}

// Decoded records; a client polling the result meanwhile reads how far it got.
struct data_rendering {
    data_telegram t;
    bool read(decode::telegram_view telegram)
    {
        read_data_telegram(telegram, t);
        return t.more;
    }
    void write(command& c, decode::telegram_view telegram, int count, bool more)
    {
        t.more = more;
        write_data_telegram(c.d.files, c.id, telegram, count, t);
        if (!more)
            return;
        text<48> progress;
        progress.format("Telegram %d, Receive More", count);
        results::write_message_answer(c.d.files, c.id, progress.view());
    }
};

struct struct_rendering {
    struct_telegram t;
    bool read(decode::telegram_view telegram)
    {
        read_struct_telegram(telegram, t);
        return t.more;
    }
    void write(command& c, decode::telegram_view telegram, int count, bool more)
    {
        t.more = more;
        write_struct_telegram(c.d.files, c.id, telegram, count, t);
    }
};

struct raw_rendering {
    decode::record_table table;
    bool read(decode::telegram_view telegram) { return decode::walk_records(telegram, table) != 0; }
    void write(command& c, decode::telegram_view telegram, int, bool)
    {
        if (c.id != 0)
            results::write_raw_file(c.d.files, c.id, telegram, results::raw_phase::telegram);
    }
};

} // namespace

void get_data(command& c)
{
    data_rendering rendering;
    int count = 0;
    const readout_outcome outcome =
        start_readout(c) ? read_telegrams(c, c.param, rendering, count) : readout_outcome::no_answer;
    outcome_message(c, outcome, count);
    if (outcome == readout_outcome::no_answer)
        results::write_message_answer(c.d.files, c.id, "No Answer");
    else if (outcome == readout_outcome::invalid)
        results::write_message_answer(c.d.files, c.id, "Telegram Invalid");
    report(c, __LINE__, 2);
}

void get_struct_data(command& c)
{
    struct_rendering rendering;
    int count = 0;
    const readout_outcome outcome =
        start_readout(c) ? read_telegrams(c, c.param, rendering, count) : readout_outcome::no_answer;
    outcome_message(c, outcome, count);
    report(c, __LINE__, outcome == readout_outcome::success ? 2 : 1);
}

void get_raw_data(command& c)
{
    raw_rendering rendering;
    int count = 0;
    readout_outcome outcome = readout_outcome::no_answer;
    if (start_readout(c)) {
        if (c.id != 0)
            results::write_raw_file(c.d.files, c.id, {}, results::raw_phase::open);
        outcome = read_telegrams(c, 0, rendering, count);
        // Telegrams from before a lost line are not the meter's readout.
        if (c.id != 0 && !c.d.line->line_failed())
            results::write_raw_file(c.d.files, c.id, {}, results::raw_phase::close);
    }
    outcome_message(c, outcome, count);
    report(c, __LINE__, outcome == readout_outcome::success ? 2 : 1);
}

} // namespace velkor::control
