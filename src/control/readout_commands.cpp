// Reading a meter telegram by telegram: GET_DATA, GET_STRUCT_DATA, GET_RAW_DATA.

#include <cstdio>

#include "control/command.h"
#include "control/readout.h"
#include "decode/header.h"
#include "decode/records.h"
#include "link/checks.h"
#include "link/frames.h"
#include "log/convert.h"
#include "log/trace.h"

namespace velkor::control {

namespace {

enum outcome { success = 0, no_answer = 1, invalid = 2 };

// SND_NKE to all, then the addressing rule: success or no_answer.
int common_start(command& c)
{
    link::build_snd_nke(c.d.bus, link::broadcast_address);
    exchange(c);
    return address_target_slave(c) == 0 ? success : no_answer;
}

// Requests the next telegram. Nothing received, also when the line was lost
// or an answer came from another slave, is no answer; anything else that is no
// valid telegram is invalid.
int request_telegram(command& c)
{
    link::build_req_ud2(c.d.bus, static_cast<std::uint8_t>(c.target), c.fcb);
    exchange(c);
    if (c.d.bus.receive_length == 0)
        return no_answer;
    return link::check_long_frame(c.d.bus) ? success : invalid;
}

// Whether another telegram is to be read after the count-th: the slave's flag,
// the client's limit (param, 0 = all) and the bound no real meter reaches.
int more_after(command& c, int more, int count, int limit)
{
    if (limit != 0 && count >= limit)
        return 0;
    if (more && count >= max_telegrams) {
        c.message.format("%s: slave %s announces more than %d telegrams, readout cut", c.name.c_str(),
                         c.secAdr.c_str(), max_telegrams);
        report(c, __LINE__, 1);
        return 0;
    }
    return more;
}

void outcome_message(command& c, int outcome, int count)
{
    const char* n = c.name.c_str();
    if (outcome == success)
        c.message.format("%s: got %d data-telegram(s) from slave %s", n, count, c.secAdr.c_str());
    else if (outcome == no_answer)
        c.message.format("%s: no answer from selected slave %s", n, c.secAdr.c_str());
    else
        c.message.format("%s: data-telegram %d from slave %s invalid", n, count + 1, c.secAdr.c_str());
}

} // namespace

void get_data(command& c)
{
    data_telegram t;
    int outcome = common_start(c);
    int count = 0;
    while (outcome == success) {
        outcome = request_telegram(c);
        if (outcome != success)
            break;
        const decode::telegram_view telegram = c.d.bus.received();
        read_data_telegram(telegram, t);
        ++count;
        t.more = more_after(c, t.more, count, c.param);
        write_data_telegram(c.d.files, c.id, telegram, count, t);
        c.fcb ^= 1;
        if (!t.more)
            break;
        text<48> progress;
        progress.format("Telegram %d, Receive More", count);
        results::write_message_answer(c.d.files, c.id, progress.view());
    }
    outcome_message(c, outcome, count);
    if (outcome == no_answer)
        results::write_message_answer(c.d.files, c.id, "No Answer");
    else if (outcome == invalid)
        results::write_message_answer(c.d.files, c.id, "Telegram Invalid");
    report(c, __LINE__, 2);
}

void get_struct_data(command& c)
{
    struct_telegram t;
    int outcome = common_start(c);
    int count = 0;
    while (outcome == success) {
        outcome = request_telegram(c);
        if (outcome != success)
            break;
        const decode::telegram_view telegram = c.d.bus.received();
        read_struct_telegram(telegram, t);
        ++count;
        t.more = more_after(c, t.more, count, c.param);
        write_struct_telegram(c.d.files, c.id, telegram, count, t);
        c.fcb ^= 1;
        if (!t.more)
            break;
    }
    outcome_message(c, outcome, count);
    report(c, __LINE__, outcome == success ? 2 : 1);
}

void get_raw_data(command& c)
{
    decode::record_table table;
    int outcome = common_start(c);
    int count = 0;
    if (outcome == success) {
        if (c.id != 0)
            results::write_raw_file(c.d.files, c.id, {}, 0);
        for (;;) {
            outcome = request_telegram(c);
            if (outcome != success)
                break;
            const decode::telegram_view telegram = c.d.bus.received();
            int more = decode::walk_records(telegram, table);
            ++count;
            more = more_after(c, more, count, 0);
            if (c.id != 0)
                results::write_raw_file(c.d.files, c.id, telegram, 1);
            c.fcb ^= 1;
            if (!more)
                break;
        }
        // Telegrams from before a lost line are not the meter's readout.
        if (c.id != 0 && !c.d.line->line_failed())
            results::write_raw_file(c.d.files, c.id, {}, 2);
    }
    outcome_message(c, outcome, count);
    report(c, __LINE__, outcome == success ? 2 : 1);
}

} // namespace velkor::control
