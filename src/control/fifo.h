#pragma once
// The command FIFO: created with mode 0660, drained at start, then read one
// record after another for the life of the process. Only whole, well-formed
// records run: the FIFO is a byte stream, so a client that writes part of a
// record or garbage must not make the daemon run one spliced from others.

#include "base/log.h"
#include "base/text.h"
#include "control/command_record.h"

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
// "FIFO: "; empty when the record is whole, its bus, secAdr and cmd fields
// each hold their terminating zero, bus is printable and cmd is a command
// the dispatcher knows.
void record_fault(const command_record& record, int count, text<96>& why);

// One process alone serves a FIFO: it holds the lock file "<path>.lock"
// beside it for its whole life. Returns the lock's descriptor, served_elsewhere
// when another process holds it, or -1 with errno when the lock file cannot be
// had (an empty path has none: its FIFO cannot be made either).
inline constexpr int served_elsewhere = -2;
int lock_command_fifo(const char* path);

// 0 when the FIFO exists (created now or before), -1 otherwise with errno
// telling why; a path that exists but is not a FIFO counts as a failure.
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
