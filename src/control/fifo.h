#pragma once
// The command FIFO: created with mode 0660, drained at start, then read one
// record after another for the life of the process. Only whole, well-formed
// records run: the FIFO is a byte stream, so a client that writes part of a
// record or garbage must not make the daemon run one spliced from others.

#include "control/command_record.h"
#include "log/log.h"
#include "log/text.h"

namespace velkor::control {

// What a reading pass hands every record to.
struct record_sink {
    virtual ~record_sink() = default;
    virtual void check_break() = 0;  // before each record that runs
    virtual void dispatch(const command_record& record) = 0;
    // Asked before the wait for the first client, after every read, and when a
    // signal interrupts either: true ends serving.
    virtual bool done() { return false; }
};

// Why `count` bytes read as `record` must not run, for a log entry after
// "FIFO: "; empty when the record is whole and its bus, secAdr and cmd fields
// each hold their terminating zero and cmd names something.
void record_fault(const command_record& record, int count, text<96>& why);

// 0 when the FIFO exists (created now or before), -1 otherwise; a path that
// exists but is not a FIFO counts as a failure.
int create_command_fifo(const char* path);

// Throws away whatever is waiting, without blocking; a FIFO made at this
// start is left alone. Returns the byte count.
int drain_command_fifo(const char* path, bool made_now = false);

// Serves the FIFO: blocks in open until the first client comes, then keeps a
// write descriptor of its own, so the reading never meets end-of-file between
// one client's close and the next one's write, and an idle daemon sleeps in
// read. Returns 0 when the sink is done, a stop is requested or a read fails,
// -1 when the FIFO cannot be opened.
int read_command_fifo(const char* path, const log::log_settings& log, record_sink& sink);

} // namespace velkor::control
