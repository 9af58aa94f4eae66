#pragma once
// The command FIFO: created with mode 0600, drained at start, then read in
// passes, one record after another, for the life of the process.

#include "control/command_record.h"
#include "log/log.h"

namespace velkor::control {

// What a reading pass hands every record to.
struct record_sink {
    virtual ~record_sink() = default;
    virtual void check_break() = 0;  // before each record
    virtual void dispatch(const command_record& record) = 0;
};

// 0 when the FIFO exists (created now or before), -1 otherwise; a path that
// exists but is not a FIFO counts as a failure.
int create_command_fifo(const char* path);

// Throws away whatever is waiting, without blocking. Returns the byte count.
int drain_command_fifo(const char* path);

// One reading pass: blocks until a writer opens the FIFO, then dispatches
// records until every writer has closed it (0). -1 when it cannot be opened.
// A stop request ends the pass at once, between records (0).
int read_command_fifo(const char* path, const log::log_settings& log, record_sink& sink);

} // namespace velkor::control
