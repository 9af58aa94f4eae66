#pragma once
// What the writers share: forming paths, replacing a result file whole through
// a hidden file beside it, and reporting failures.

#include <cerrno>
#include <unistd.h>

#include "results/result_files.h"

namespace velkor::results {

inline constexpr int open_tries = 5;
inline constexpr int retry_wait_ms = 100;

// Formats a path; false (and an empty path) when it does not fit.
__attribute__((format(printf, 2, 3))) bool form_path(path_text& out, const char* format, ...);

// "<dir>/mbus_<id>" and "<dir>/mbus_create".
bool result_path(const result_files& files, int id, path_text& out);
bool temp_path(const result_files& files, path_text& out);

// Opens "mbus_create" for a new document, never through a symbolic link.
// -1 with errno on failure.
int open_temp_file(const char* path);

// Creates "<dir>/.<name>.<pid>.<stamp>.tmp" beside "<dir>/<name>": hidden from
// clients, on the same file system (so renaming it onto the result file
// replaces that at once), and created new, never through an existing file or
// link. `tries` attempts; with a clock, waits after each failed one. The
// descriptor, or -1 with errno telling the last failure.
int create_hidden(const char* path, path_text& hidden, int tries, velkor::clock* wait);

// Closes the hidden file and renames it onto path when everything reached it;
// otherwise removes it. 0, or -1 with errno telling why.
int finish_hidden(doc_file& file, const char* hidden, const char* path);

// Writes a whole document into a hidden file and renames it onto path, so a
// reader sees the old document or the new one. The body returns false to
// abandon the document. 0, or -1 with errno telling why.
template <class Body>
int replace_document(const char* path, int tries, velkor::clock* wait, Body&& body)
{
    path_text hidden;
    doc_file file;
    file.fd = create_hidden(path, hidden, tries, wait);
    if (file.fd < 0)
        return -1;
    if (!body(file)) {
        const int error = file.error != 0 ? file.error : errno;
        doc_discard(file);
        ::unlink(hidden.c_str());
        errno = error;
        return -1;
    }
    return finish_hidden(file, hidden.c_str(), path);
}

// "<text>: <system error>" logged at level 1, whatever the traces say; with
// the controller trace on also on standard error. `format` takes the path;
// errno tells the failure.
void report_failure(const result_files& files, int line, const char* format, const char* path);

// With the controller trace on: the format with the path on standard output.
void trace_written(const char* format, const char* path);

velkor::clock& wait_clock(const result_files& files);

} // namespace velkor::results
