#include "base/stop.h"

#include <csignal>

namespace velkor::stop {

namespace {

void on_stop_signal(int number) { requested.store(number); }

} // namespace

int install_handlers()
{
    struct sigaction action{};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0 ||
        ::sigaction(SIGPIPE, &ignore, nullptr) != 0)
        return -1;
    return 0;
}

} // namespace velkor::stop
