#include "pty_link.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace velkor::sim {

namespace {

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

} // namespace

int open_pty_link(pty_link& link, const std::string& link_path, std::string& error)
{
    link = {};
    link.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (link.master < 0) {
        error = system_error("posix_openpt");
        return -1;
    }
    const char* name = nullptr;
    if (::grantpt(link.master) != 0 || ::unlockpt(link.master) != 0 || !(name = ::ptsname(link.master))) {
        error = system_error("pty set-up");
        close_pty_link(link);
        return -1;
    }
    link.slave_name = name;
    link.slave = ::open(name, O_RDWR | O_NOCTTY);
    if (link.slave < 0) {
        error = system_error(link.slave_name);
        close_pty_link(link);
        return -1;
    }
    // Until the daemon sets its own line, nothing may echo our answers back.
    termios t{};
    if (::tcgetattr(link.slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(link.slave, TCSANOW, &t);
    }
    ::fcntl(link.master, F_SETFL, ::fcntl(link.master, F_GETFL) | O_NONBLOCK);

    struct stat st{};
    if (::lstat(link_path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link_path + " exists and is not a symlink; not replaced";
            close_pty_link(link);
            return -1;
        }
        ::unlink(link_path.c_str());
    }
    if (::symlink(link.slave_name.c_str(), link_path.c_str()) != 0) {
        error = system_error("symlink " + link_path);
        close_pty_link(link);
        return -1;
    }
    link.link_path = link_path;
    return 0;
}

void close_pty_link(pty_link& link)
{
    if (!link.link_path.empty()) {
        char target[4096];
        const ssize_t n = ::readlink(link.link_path.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == link.slave_name)
            ::unlink(link.link_path.c_str());
        link.link_path.clear();
    }
    if (link.slave >= 0)
        ::close(link.slave);
    if (link.master >= 0)
        ::close(link.master);
    link.slave = link.master = -1;
}

std::uint32_t line_speed(const pty_link& link)
{
    static constexpr struct {
        speed_t code;
        std::uint32_t baud;
    } speeds[] = {{B300, 300},   {B600, 600},   {B1200, 1200},   {B2400, 2400},
                  {B4800, 4800}, {B9600, 9600}, {B19200, 19200}, {B38400, 38400}};
    termios t{};
    if (link.slave < 0 || ::tcgetattr(link.slave, &t) != 0)
        return 0;
    const speed_t code = ::cfgetospeed(&t);
    for (const auto& s : speeds) {
        if (s.code == code)
            return s.baud;
    }
    return 0;
}

} // namespace velkor::sim
