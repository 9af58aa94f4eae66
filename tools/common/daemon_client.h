#pragma once
// What every client of the daemon does: pack a command record, open the FIFO
// once the daemon reads it, and wait for a result file to change.

#include <chrono>
#include <cstdint>
#include <string>

#include "control/command_record.h"

namespace velkor::tools {

using steady = std::chrono::steady_clock;

struct record_fields {
    std::string bus;
    std::int32_t id = 0;
    std::int32_t br = 2400;
    std::string sec;
    std::string command;
    std::int32_t param = 0;
};

// Texts longer than their fields are cut so that each keeps its terminating zero.
control::command_record pack_record(const record_fields& fields);

// The FIFO opened for writing, without blocking. A running daemon always
// holds it open for reading, so no reader means no daemon: until the deadline
// a missing FIFO or reader is waited for (a daemon starting), past it the
// reason is said at once. -1 after a message (prefixed with the program's
// name) when it is no FIFO or cannot be opened.
int open_fifo(const std::string& path, steady::time_point deadline);

// One write of the whole record, which the FIFO keeps in one piece; a FIFO
// full of records waiting for a busy daemon is waited out until the deadline.
// false after a message.
bool write_record(int fd, const std::string& path, const control::command_record& record,
                  steady::time_point deadline);

// "permission denied: this user may not <what> <path>", with the way in.
void report_permission_denied(const std::string& what, const std::string& path);

bool read_whole(const std::string& path, std::string& content);

// Watches the output directory, so a result renamed into place is seen at
// once; -1 where inotify is missing, and the file is polled instead.
int watch_directory(const std::string& directory);
// Returns after a change in the watched directory or timeout_ms (at most
// 50 ms without a watch).
void wait_for_change(int watch, int timeout_ms);

} // namespace velkor::tools
