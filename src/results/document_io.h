#pragma once
// What the writers share: forming paths, replacing a result file whole through
// a hidden file beside it, and reporting failures.

#include <cerrno>
#include <cstdio>

#include "results/result_files.h"

namespace velkor::results {

inline constexpr int open_tries = 5;
inline constexpr int retry_wait_ms = 100;

// Formats a path; false (and an empty path) when it does not fit.
__attribute__((format(printf, 2, 3))) bool form_path(path_text& out, const char* format, ...);

// "<dir>/mbus_<id>" and "<dir>/mbus_create".
bool result_path(const result_files& files, int id, path_text& out);
bool temp_path(const result_files& files, path_text& out);

// "<dir>/.<name>.tmp" beside "<dir>/<name>": hidden from clients, and on the
// same file system, so renaming it onto the result file replaces it at once.
bool hidden_path(const char* path, path_text& out);

// Opens for writing (truncating), `tries` times; with a clock, waits after each
// failed try. errno tells the last failure.
std::FILE* open_for_writing(const char* path, int tries, velkor::clock* wait);

// Closes the hidden file and renames it onto path when everything reached it;
// otherwise removes it. 0, or -1 with errno telling why.
int finish_hidden(std::FILE* file, const char* hidden, const char* path);

// Writes a whole document into a hidden file and renames it onto path, so a
// reader sees the old document or the new one. The body returns false to
// abandon the document. 0, or -1 with errno telling why.
template <class Body>
int replace_document(const char* path, int tries, velkor::clock* wait, Body&& body)
{
    path_text hidden;
    if (!hidden_path(path, hidden)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::FILE* file = open_for_writing(hidden.c_str(), tries, wait);
    if (!file)
        return -1;
    if (!body(file)) {
        const int error = errno;
        std::fclose(file);
        std::remove(hidden.c_str());
        errno = error;
        return -1;
    }
    return finish_hidden(file, hidden.c_str(), path);
}

// With the controller trace on: "<text>: <system error>" on standard error and
// the text logged at level 1. Silent otherwise. `format` takes the path.
void report_failure(const result_files& files, int line, const char* format, const char* path);

// With the controller trace on: the format with the path on standard output.
void trace_written(const char* format, const char* path);

velkor::clock& wait_clock(const result_files& files);

} // namespace velkor::results
