#include "control/command_line.h"

#include <cstdio>
#include <cstring>

#include "control/settings.h"
#include "velkor_version.h"

namespace velkor::control {

namespace {

void usage(std::FILE* out)
{
    std::fprintf(out,
                 "usage: velkor [--config PATH]\n"
                 "The M-Bus master daemon: serves command records from its FIFO on the serial line.\n"
                 "  --config PATH  configuration file (default %s)\n"
                 "  --help         this text\n"
                 "  --version      the version\n"
                 "See velkor(8) and mbus.conf(5).\n",
                 default_config_path);
}

command_line_outcome refuse(const char* what, const char* argument)
{
    std::fprintf(stderr, "velkor: %s%s\n", what, argument);
    usage(stderr);
    return command_line_outcome::refused;
}

} // namespace

command_line_outcome read_command_line(int argc, char** argv, const char*& config_path)
{
    const char* path = config_path;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            usage(stdout);
            return command_line_outcome::answered;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::puts("velkor " VELKOR_VERSION);
            return command_line_outcome::answered;
        }
        if (std::strcmp(arg, "--config") == 0) {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                return refuse("--config needs a path", "");
            path = argv[++i];
        } else if (std::strncmp(arg, "--config=", 9) == 0) {
            if (arg[9] == '\0')
                return refuse("--config needs a path", "");
            path = arg + 9;
        } else {
            return refuse(arg[0] == '-' ? "unknown option " : "unexpected argument ", arg);
        }
    }
    config_path = path;
    return command_line_outcome::serve;
}

} // namespace velkor::control
