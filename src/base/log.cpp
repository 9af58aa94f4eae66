#include "base/log.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/config_file.h"
#include "base/trace.h"

namespace velkor::log {

namespace {

// Any path the system allows: a long log directory must never cut the names
// apart from one another (a cut backup name would be the live log itself).
using path_text = text<PATH_MAX>;

void report_log_failure(const char* what, const char* path)
{
    if (trace::logging)
        std::fprintf(stderr, "MBUS_LOG: could not %s %s: %s\n", what, path, std::strerror(errno));
}

void rotate_if_needed(const path_text& path, const path_text& backup, int limit)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return;
    if (trace::logging)
        std::printf("Groesse %s: %lld\n", path.c_str(), static_cast<long long>(st.st_size));
    if (st.st_size > static_cast<off_t>(limit)) {
        ::unlink(backup.c_str());
        if (::rename(path.c_str(), backup.c_str()) != 0)
            report_log_failure("rotate file", path.c_str());
    }
}

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// One file, opened, appended to and closed: its failure concerns it alone.
void append_entry(const log_settings& settings, const char* name, int limit, std::string_view entry)
{
    path_text path;
    path_text backup;
    path.format("%s/%s", settings.directory.c_str(), name);
    backup.format("%s/%s.bac", settings.directory.c_str(), name);
    if (backup.full()) {
        errno = ENAMETOOLONG;
        report_log_failure("write file", path.c_str());
        return;
    }
    rotate_if_needed(path, backup, limit);
    int fd;
    do
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        report_log_failure("write file", path.c_str());
        return;
    }
    const bool written = write_all(fd, entry);
    if (::close(fd) != 0 || !written)
        report_log_failure("write file", path.c_str());
}

// Under systemd standard error goes to the journal, which takes the priority
// from the prefix; one write per line, so lines of other writers never split it.
void write_console(std::string_view message, entry_kind kind)
{
    text<1040> line(kind == entry_kind::failure ? "<3>" : "<6>");
    line.append(message.substr(0, line.capacity() - line.size() - 1));
    line.append('\n');
    write_all(STDERR_FILENO, line.view());
}

} // namespace

int read_log_configuration(const char* path, log_settings& settings)
{
    const int rc = for_each_config_token(path, [&](std::string_view key, std::string_view value) {
        if (key == "path_mbusLog")
            config_text(settings.directory, value);
        else if (key == "log_size")
            settings.size = config_int(value);
        else if (key == "log_size_dev")
            settings.size_dev = config_int(value);
        else if (key == "log_time_format")
            settings.time_format = config_int(value);
        else if (key == "log_console")
            settings.console = config_int(value) != 0;
        else if (key == "debug_mbus_log")
            trace::logging = config_int(value);
    });
    if (rc != 0) {
        std::fprintf(stderr, "%s: %s\n", path, std::strerror(errno));
        return -1;
    }
    if (trace::logging)
        std::puts("DEBUG_MBUS_LOG");
    return 0;
}

void format_log_time(std::string_view zone, text<32>& out)
{
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    if (zone == "GMT")
        ::gmtime_r(&now, &t);
    else
        ::localtime_r(&now, &t);
    out.format("%02d.%02d.%02d %02d:%02d:%02d", t.tm_mday, t.tm_mon + 1, t.tm_year - 100, t.tm_hour, t.tm_min,
               t.tm_sec);
}

void log_write(const log_settings& settings, std::string_view module, int line, int level, std::string_view message,
               entry_kind kind)
{
    if (trace::logging)
        std::printf("file %.*s  line %d  logLevel %d  msg %.*s\n", static_cast<int>(module.size()), module.data(), line,
                    level, static_cast<int>(message.size()), message.data());
    text<32> stamp;
    format_log_time("locale", stamp);
    // Room for the longest message the daemon forms; a longer one is cut, but
    // the entry always keeps its source and its line feed.
    text<1024> entry;
    entry.format("%s | ", stamp.c_str());
    text<64> source;
    source.format(" [%.*s / %d]\n", static_cast<int>(module.size()), module.data(), line);
    entry.append(message.substr(0, entry.capacity() - entry.size() - source.size()));
    entry.append(source.view());

    append_entry(settings, "mbusLogDev", settings.size_dev, entry.view());
    if (level == 1) {
        append_entry(settings, "mbusLog", settings.size, entry.view());
        if (settings.console)
            write_console(message, kind);
    }
}

} // namespace velkor::log
