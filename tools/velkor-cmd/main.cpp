// velkor-cmd: hands one command record to the daemon and waits for its answer.

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "command_names.h"
#include "common/daemon_client.h"
#include "common/document_table.h"
#include "control/command_record.h"
#include "result_check.h"
#include "velkor_version.h"

namespace {

using velkor::cmd::result_state;
using velkor::control::command_record;
using velkor::tools::read_whole;
using velkor::tools::steady;
using velkor::tools::wait_for_change;
using velkor::tools::watch_directory;

constexpr int exit_timeout = 1;  // also every other failure after the arguments were good
constexpr int exit_usage = 2;
// Even with inotify the file is looked at this often, and the status line's clock moves on.
constexpr int recheck_ms = 1000;

void usage(std::FILE* out)
{
    std::fputs("usage: velkor-cmd --fifo PATH [--bus NAME] [--br N] [--sec TEXT] [--param N]\n"
               "                  [--id N --out DIR] [--timeout SECONDS] [--table] [--force] COMMAND\n"
               "Writes one command record into the daemon's FIFO. With --id, waits until the\n"
               "result file DIR/mbus_N is complete and prints it.\n"
               "  --fifo PATH        the daemon's command FIFO (path_input)\n"
               "  --bus NAME         bus of the command: the daemon's line for a name containing\n"
               "                     \"ttyS\", its bus_0 or a link to that device (default\n"
               "                     /dev/ttyS0), any other a file path\n"
               "  --br N             line speed in Bd: 300, 600, 1200, 2400 (default), 4800,\n"
               "                     9600, 19200 or 38400\n"
               "  --sec TEXT         secondary address of the slave, e.g. 12345678-ABC-1-7\n"
               "  --param N          command parameter (default 0)\n"
               "  --id N             result number; 0 or none: only send\n"
               "  --out DIR          the daemon's output directory (path_output)\n"
               "  --timeout SECONDS  give up after this long (default: the command's worst case\n"
               "                     at the line speed)\n"
               "  --table            print the answer as an aligned text table, not JSON\n"
               "  --force            send a command name, speed or address velkor-cmd does not know\n"
               "  --help, --version  this text, the version\n"
               "While it waits, a status line on standard error shows the time and any\n"
               "progress when that is a terminal.\n"
               "exit status: 0 done, 1 time-out, failure or an incomplete search, 2 bad arguments\n",
               out);
}

struct options {
    std::string fifo;
    std::string bus = "/dev/ttyS0";
    std::string out;
    std::string sec;
    std::string command;
    std::int32_t br = 2400;
    std::int32_t id = 0;
    std::int32_t param = 0;
    double timeout_s = 0;  // 0: the command's worst case
    bool table = false;
    bool force = false;
};

int bad_arguments(const std::string& message)
{
    std::fprintf(stderr, "velkor-cmd: %s\n", message.c_str());
    usage(stderr);
    return exit_usage;
}

bool read_int32(const std::string& text, std::int32_t& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT32_MIN || v > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

bool read_seconds(const std::string& text, double& value)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v > 0) || v > 86400 * 7)
        return false;
    value = v;
    return true;
}

// 0, or exit_usage after the usage message.
int read_options(int argc, char** argv, options& o)
{
    bool have_command = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            std::exit(0);
        }
        if (arg == "--version") {
            std::puts("velkor-cmd " VELKOR_VERSION);
            std::exit(0);
        }
        if (arg == "--table" || arg == "--force") {
            (arg == "--table" ? o.table : o.force) = true;
            continue;
        }
        if (arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (have_command)
                return bad_arguments("one command only: " + o.command + " and " + std::string(arg));
            o.command = std::string(arg);
            have_command = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string name(arg.substr(0, eq));
        std::string value;
        if (eq != std::string_view::npos)
            value = std::string(arg.substr(eq + 1));
        else if (i + 1 < argc)
            value = argv[++i];
        else
            return bad_arguments(name + " needs a value");

        if (name == "--fifo") {
            o.fifo = value;
        } else if (name == "--bus") {
            o.bus = value;
        } else if (name == "--out") {
            o.out = value;
        } else if (name == "--sec") {
            o.sec = value;
        } else if (name == "--br" || name == "--id" || name == "--param") {
            std::int32_t& target = name == "--br" ? o.br : name == "--id" ? o.id : o.param;
            if (!read_int32(value, target))
                return bad_arguments(name + " takes a whole number, not \"" + value + "\"");
        } else if (name == "--timeout") {
            if (!read_seconds(value, o.timeout_s))
                return bad_arguments("--timeout takes a number of seconds above 0, not \"" + value + "\"");
        } else {
            return bad_arguments("unknown option " + name);
        }
    }
    if (!have_command || o.command.empty())
        return bad_arguments("the command name is missing");
    if (o.fifo.empty())
        return bad_arguments("--fifo is missing");
    if (o.id < 0)
        return bad_arguments("--id must not be negative");
    if (o.id > 0 && o.out.empty())
        return bad_arguments("--id needs --out, the directory of the result files");
    // Each text needs room for its terminating zero within its field.
    const command_record r;
    const struct {
        const char* what;
        const std::string& text;
        std::size_t field;
    } texts[] = {{"--bus", o.bus, r.bus.size()}, {"--sec", o.sec, r.secAdr.size()}, {"the command", o.command, r.cmd.size()}};
    for (const auto& t : texts) {
        if (t.text.size() >= t.field)
            return bad_arguments(std::string(t.what) + " is longer than " + std::to_string(t.field - 1) +
                                 " characters: " + t.text);
    }
    if (!o.force) {
        if (!velkor::cmd::command_named(o.command, o.param))
            return bad_arguments("no command " + o.command + " (--force sends it all the same); the commands: " +
                                 velkor::cmd::command_names());
        if (!velkor::cmd::is_line_speed(o.br))
            return bad_arguments("--br " + std::to_string(o.br) + " is no line speed (--force sends it all the same)");
        if (!o.sec.empty() && !velkor::cmd::is_secondary_address(o.sec))
            return bad_arguments("--sec " + o.sec +
                                 " is no secondary address such as 12345678-ABC-1-7 (--force sends it all the same)");
    }
    if (o.id > 0) {
        // A folder this user may not reach is a permission problem, said later as one.
        struct stat st{};
        const int error = ::stat(o.out.c_str(), &st) == 0 ? 0 : errno;
        if (error != 0 && error != EACCES)
            return bad_arguments("--out " + o.out + ": " + std::strerror(error));
        if (error == 0 && !S_ISDIR(st.st_mode))
            return bad_arguments("--out " + o.out + " is not a directory");
    }
    return 0;
}

int permission_denied(const std::string& what, const std::string& path)
{
    velkor::tools::report_permission_denied(what, path);
    return exit_timeout;
}

// The wait for the answer ends where the command must have ended.
double timeout_of(const options& o)
{
    if (o.timeout_s > 0)
        return o.timeout_s;
    const auto cost = velkor::cmd::command_named(o.command, o.param).value_or(velkor::cmd::detail::one_slave_read);
    return velkor::cmd::worst_case_seconds(cost, velkor::cmd::is_line_speed(o.br) ? o.br : 9600);
}

command_record make_record(const options& o)
{
    return velkor::tools::pack_record({o.bus, o.id, o.br, o.sec, o.command, o.param});
}

// The live status of a long command, on a terminal's standard error only.
struct status_line {
    bool terminal = ::isatty(STDERR_FILENO) == 1;
    bool shown = false;

    void show(const std::string& command, const std::string& progress, steady::duration elapsed, double limit_s)
    {
        if (!terminal)
            return;
        const long s = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
        const long limit = static_cast<long>(limit_s + 0.5);
        std::fprintf(stderr, "\r%s: %s, %ld:%02ld of at most %ld:%02ld\033[K", command.c_str(), progress.c_str(), s / 60,
                     s % 60, limit / 60, limit % 60);
        std::fflush(stderr);
        shown = true;
    }
    void clear()
    {
        if (shown)
            std::fputs("\r\033[K", stderr);
        shown = false;
    }
};

void print_result(const std::string& content, bool table)
{
    std::string text;
    if (table && velkor::tools::document_table(content, text)) {
        std::fputs(text.c_str(), stdout);
        return;
    }
    std::fwrite(content.data(), 1, content.size(), stdout);
    if (content.empty() || content.back() != '\n')
        std::fputc('\n', stdout);
}

int wait_for_result(const options& o, const std::string& path, int watch, steady::time_point deadline, double timeout_s)
{
    const auto start = steady::now();
    std::string content, progress;
    result_state last = result_state::incomplete;
    bool seen = false;
    status_line status;
    for (;;) {
        if (read_whole(path, content)) {
            seen = true;
            last = velkor::cmd::judge_result(content);
            if (last == result_state::final) {
                status.clear();
                print_result(content, o.table);
                return velkor::cmd::search_incomplete(content) ? exit_timeout : 0;
            }
            if (last == result_state::intermediate)
                progress = velkor::tools::progress_text(content);
        }
        status.show(o.command, progress.empty() ? "waiting" : progress, steady::now() - start, timeout_s);
        const auto now = steady::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        wait_for_change(watch, static_cast<int>(std::min<long long>(left + 1, recheck_ms)));
    }
    status.clear();
    const char* why = !seen ? "no result file"
                      : last == result_state::intermediate ? "the result is not final yet"
                                                            : "the result file is incomplete";
    std::fprintf(stderr, "velkor-cmd: time-out after %g s: %s: %s\n", timeout_s, path.c_str(), why);
    if (seen && !content.empty())
        std::fprintf(stderr, "last content:\n%s\n", content.c_str());
    return exit_timeout;
}

} // namespace

int main(int argc, char** argv)
{
    options o;
    if (const int rc = read_options(argc, argv, o))
        return rc;
    std::signal(SIGPIPE, SIG_IGN);
    const double timeout_s = timeout_of(o);
    const auto deadline = steady::now() + std::chrono::duration_cast<steady::duration>(
                                              std::chrono::duration<double>(timeout_s));
    if (o.id > 0 && ::access(o.out.c_str(), R_OK | X_OK) != 0 && errno == EACCES)
        return permission_denied("read", o.out);

    const std::string result_path = o.out + "/mbus_" + std::to_string(o.id);
    // An answer left from an earlier command of the same number must not pass for this one.
    if (o.id > 0 && ::unlink(result_path.c_str()) != 0 && errno != ENOENT) {
        if (errno == EACCES || errno == EPERM)
            return permission_denied("remove the old", result_path);
        std::fprintf(stderr, "velkor-cmd: cannot remove the old %s: %s\n", result_path.c_str(), std::strerror(errno));
        return exit_timeout;
    }

    // Watching starts before the record goes out, so no rename slips past.
    const int watch = o.id > 0 ? watch_directory(o.out) : -1;
    const int fd = velkor::tools::open_fifo(o.fifo, steady::now());
    if (fd < 0)
        return exit_timeout;
    const bool written = velkor::tools::write_record(fd, o.fifo, make_record(o), deadline);
    ::close(fd);
    if (!written)
        return exit_timeout;
    if (o.id == 0)
        return 0;
    return wait_for_result(o, result_path, watch, deadline, timeout_s);
}
