#pragma once
// The size-limited log: "mbusLogDev" takes every entry, "mbusLog" the entries
// of level 1; each rotates by size into one ".bac" backup. The two files are
// written independently: one that cannot be opened or rotated never keeps an
// entry out of the other.

#include <string_view>

#include "base/text.h"

namespace velkor::log {

struct log_settings {
    text<256> directory;  // path_mbusLog
    int size = 0;         // log_size, rotation threshold of mbusLog
    int size_dev = 0;     // log_size_dev, rotation threshold of mbusLogDev
    int time_format = 0;  // log_time_format, kept; nothing depends on it
    bool console = false; // log_console: level-1 entries also on standard error, for the journal
};

// What a level-1 entry tells an operator, as a system log ranks it: "<3>" or
// "<6>" before its line on standard error with log_console.
enum class entry_kind { failure, notice };

// Reads the six log keys from the configuration file. Returns 0, or -1 after
// reporting the path and the system's error text on standard error.
int read_log_configuration(const char* path, log_settings& settings);

// Appends one entry "<time> | <message> [<module> / <line>]".
void log_write(const log_settings& settings, std::string_view module, int line, int level,
               std::string_view message, entry_kind kind = entry_kind::failure);

// "%02d.%02d.%02d %02d:%02d:%02d"; zone "GMT" selects UTC, anything else local time.
void format_log_time(std::string_view zone, text<32>& out);

} // namespace velkor::log
