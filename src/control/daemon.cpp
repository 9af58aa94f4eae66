#include "control/daemon.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace velkor::control {

void connect_daemon_state(daemon_state& d, link::bus_line& line, velkor::clock& clock)
{
    d.line = &line;
    line.log = &d.log;
    d.clock = &clock;
    d.files.directory = d.config.path_output;
    d.files.log = &d.log;
    d.files.clock = &clock;
}

namespace {

// 0 when files can be made in the folder, else the errno telling why not.
int folder_error(const char* path)
{
    struct stat st;
    if (::stat(path, &st) != 0)
        return errno;
    if (!S_ISDIR(st.st_mode))
        return ENOTDIR;
    return ::access(path, W_OK | X_OK) == 0 ? 0 : errno;
}

} // namespace

int report_unwritable_folders(const daemon_state& d)
{
    int reported = 0;
    // The log's files are "<folder>/mbusLog": an empty folder is the root.
    const char* log_folder = d.log.directory.empty() ? "/" : d.log.directory.c_str();
    if (const int error = folder_error(log_folder)) {
        std::fprintf(stderr, "velkor: log folder %s cannot be written: %s\n", log_folder, std::strerror(error));
        ++reported;
    }
    if (const int error = folder_error(d.config.path_output.c_str())) {
        text<400> message;
        message.format("velkor: output folder %s cannot be written: %s", d.config.path_output.c_str(),
                       std::strerror(error));
        log::log_write(d.log, "mbus_control", __LINE__, 1, message.view());
        ++reported;
    }
    return reported;
}

} // namespace velkor::control
