#include "results/result_files.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "base/convert.h"
#include "base/trace.h"
#include "results/document_io.h"

namespace velkor::results {

namespace {

constexpr int file_mode = 0666;  // as any file the daemon creates; the umask decides
constexpr std::string_view hidden_prefix = ".mbus_";
constexpr std::string_view hidden_suffix = ".tmp";

// Every clash with an existing name draws a new one; a planted file or link
// must not turn into a failure of the document.
constexpr int name_draws = 16;

bool hidden_name(const char* path, path_text& out)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const int dir_length = static_cast<int>(name - path);
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const unsigned long long stamp =
        static_cast<unsigned long long>(now.tv_sec) * 1000000000ULL + static_cast<unsigned long long>(now.tv_nsec);
    return form_path(out, "%.*s.%s.%ld.%llx%s", dir_length, path, name, static_cast<long>(::getpid()), stamp,
                     hidden_suffix.data());
}

bool is_hidden_document(std::string_view name)
{
    return name.size() > hidden_prefix.size() + hidden_suffix.size() && name.starts_with(hidden_prefix) &&
           name.ends_with(hidden_suffix);
}

} // namespace

bool form_path(path_text& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out.chars.data(), out.chars.size(), format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) > out.capacity()) {
        out.clear();
        errno = ENAMETOOLONG;
        return false;
    }
    out.length = static_cast<std::size_t>(n);
    return true;
}

bool result_path(const result_files& files, int id, path_text& out)
{
    return form_path(out, "%s/mbus_%d", files.directory.c_str(), id);
}

bool temp_path(const result_files& files, path_text& out)
{
    return form_path(out, "%s/mbus_create", files.directory.c_str());
}

int open_temp_file(const char* path)
{
    int fd;
    do
        fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, file_mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int create_hidden(const char* path, path_text& hidden, int tries, velkor::clock* wait)
{
    int draws = 0;
    for (int attempt = 0; attempt < tries;) {
        if (!hidden_name(path, hidden))
            return -1;
        const int fd = ::open(hidden.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, file_mode);
        if (fd >= 0)
            return fd;
        if (errno == EINTR || (errno == EEXIST && ++draws < name_draws))
            continue;
        ++attempt;
        if (wait) {
            const int error = errno;
            wait->sleep_ms(retry_wait_ms);
            errno = error;
        }
    }
    return -1;
}

int finish_hidden(doc_file& file, const char* hidden, const char* path)
{
    int error = 0;
    if (doc_close(file) != 0)
        error = errno;
    else if (::rename(hidden, path) != 0)
        error = errno;
    if (error == 0)
        return 0;
    ::unlink(hidden);
    errno = error;
    return -1;
}

void report_failure(const result_files& files, int line, const char* format, const char* path)
{
    const int error = errno;
    text<512> message;
    message.format(format, path);
    if (trace::control)
        std::fprintf(stderr, "%s: %s\n", message.c_str(), std::strerror(error));
    message.appendf(": %s", std::strerror(error));
    if (files.log)
        log::log_write(*files.log, "mbus_control", line, 1, message.view());
    errno = error;
}

void drop_result(const result_files& files, int id, int line, std::string_view command, std::string_view reason)
{
    path_text result;
    if (!result_path(files, id, result) || ::unlink(result.c_str()) != 0)
        return;  // nothing there to mislead a client
    text<512> message;
    message.format("%.*s: result file %s removed, %.*s", static_cast<int>(command.size()), command.data(),
                   result.c_str(), static_cast<int>(reason.size()), reason.data());
    if (trace::control)
        std::fprintf(stderr, "%s\n", message.c_str());
    if (files.log)
        log::log_write(*files.log, "mbus_control", line, 1, message.view());
}

void trace_written(const char* format, const char* path)
{
    if (trace::control)
        std::printf(format, path);
}

velkor::clock& wait_clock(const result_files& files) { return files.clock ? *files.clock : system_clock(); }

int publish_result(const char* temp_path, const char* result_path)
{
    int in;
    do
        in = ::open(temp_path, O_RDONLY | O_CLOEXEC);
    while (in < 0 && errno == EINTR);
    if (in < 0)
        return -1;
    // The document ends at the file's end or at its first zero byte.
    const int rc = replace_document(result_path, 1, nullptr, [in](doc_file& out) {
        std::array<char, 4096> chunk;
        for (;;) {
            const ssize_t n = ::read(in, chunk.data(), chunk.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return false;
            const auto got = static_cast<std::size_t>(n);
            const void* zero = std::memchr(chunk.data(), '\0', got);
            const std::size_t keep = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chunk.data()) : got;
            doc_put(out, {chunk.data(), keep});
            if (out.error != 0) {
                errno = out.error;
                return false;
            }
            if (zero || got == 0)
                return true;
        }
    });
    const int error = errno;
    ::close(in);
    errno = error;
    return rc;
}

bool check_abort_file(result_files& files, int id)
{
    path_text abort;
    if (!form_path(abort, "%s/abort", files.directory.c_str()) || !conv::file_exists(abort.c_str()))
        return false;
    std::remove(abort.c_str());
    path_text result;
    if (result_path(files, id, result))
        std::remove(result.c_str());
    return true;
}

void remove_result(const result_files& files, int id, std::string_view command)
{
    path_text path;
    if (!result_path(files, id, path) || ::unlink(path.c_str()) == 0 || errno == ENOENT)
        return;
    text<96> format;  // the longest command name and the text
    format.format("%.*s: could not remove old result file %%s", static_cast<int>(command.size()), command.data());
    report_failure(files, __LINE__, format.c_str(), path.c_str());
}

namespace {

// "mbus_<number>" as the daemon names a result file: the number, or false.
bool result_id(std::string_view name, int& id)
{
    constexpr std::string_view prefix = "mbus_";
    if (!name.starts_with(prefix) || name.size() > prefix.size() + 11)
        return false;
    const text<16> digits(name.substr(prefix.size()));
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || errno != 0 || value < INT32_MIN || value > INT32_MAX)
        return false;
    id = static_cast<int>(value);
    text<24> again;
    again.format("mbus_%d", id);
    return again.view() == name;
}

// The beginning and the end of a document tell its state: a progress answer
// is short, and a slaves list ends with its state.
bool left_in_progress(int dir, const char* name)
{
    const int fd = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::array<char, 64> head{}, tail{};
    const ssize_t h = ::pread(fd, head.data(), head.size(), 0);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const off_t from = size > static_cast<off_t>(tail.size()) ? size - static_cast<off_t>(tail.size()) : 0;
    const ssize_t t = ::pread(fd, tail.data(), tail.size(), from);
    ::close(fd);
    const std::string_view first(head.data(), h > 0 ? static_cast<std::size_t>(h) : 0);
    const std::string_view last(tail.data(), t > 0 ? static_cast<std::size_t>(t) : 0);
    return (first.starts_with("{\"data_response\":\"Telegram ") && first.ends_with(", Receive More\"}")) ||
           (last.ends_with("\"state\":\"run\"\n}") && first.starts_with("{\n\t\"slaves\""));
}

} // namespace

int remove_unfinished_results(result_files& files)
{
    DIR* dir = ::opendir(files.directory.empty() ? "/" : files.directory.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        int id = 0;
        if (!result_id(entry->d_name, id) || !left_in_progress(::dirfd(dir), entry->d_name))
            continue;
        drop_result(files, id, __LINE__, "velkor", "an earlier run left it unfinished");
        ++removed;
    }
    ::closedir(dir);
    return removed;
}

int remove_temporary_files(result_files& files)
{
    doc_discard(files.temp);
    int removed = 0;
    path_text path;
    if (temp_path(files, path) && ::unlink(path.c_str()) == 0)
        ++removed;
    DIR* dir = ::opendir(files.directory.empty() ? "/" : files.directory.c_str());
    if (!dir)
        return removed;
    while (const dirent* entry = ::readdir(dir)) {
        if (is_hidden_document(entry->d_name) && ::unlinkat(::dirfd(dir), entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace velkor::results
