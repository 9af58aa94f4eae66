#include "daemon_link.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <unistd.h>

#include "velkor-cmd/result_check.h"

namespace velkor::poll {

namespace {

using tools::steady;

// Even with inotify the fence's file is looked at this often.
constexpr int recheck_ms = 1000;
// A daemon that is starting, or a FIFO full of other clients' records, is waited for this long.
constexpr auto fifo_wait = std::chrono::seconds(10);

std::string result_path(const poll_config& c, int id) { return c.output + "/mbus_" + std::to_string(id); }

bool send(int fd, const std::string& fifo, const tools::record_fields& fields)
{
    return tools::write_record(fd, fifo, tools::pack_record(fields), steady::now() + fifo_wait);
}

} // namespace

command_outcome run_fenced(daemon_link& link, const std::string& command, const std::string& secondary,
                           std::chrono::seconds timeout, std::string& document)
{
    const poll_config& c = *link.config;
    document.clear();
    const int id = command == "SLAVE_SEARCH" ? c.id_base + 2 : c.id_base;
    const int fence = c.id_base + 1;
    const std::string path = result_path(c, id), fence_path = result_path(c, fence);
    // Answers left from an earlier command of the same numbers must not pass for these.
    for (const std::string* p : {&path, &fence_path}) {
        if (::unlink(p->c_str()) != 0 && errno != ENOENT) {
            std::fprintf(stderr, "velkor-poll: cannot remove the old %s: %s\n", p->c_str(), std::strerror(errno));
            return command_outcome::unreachable;
        }
    }
    const int fd = tools::open_fifo(c.fifo, steady::now() + fifo_wait);
    if (fd < 0)
        return command_outcome::unreachable;
    const bool sent = send(fd, c.fifo, {c.bus, id, c.br, secondary, command, 0}) &&
                      send(fd, c.fifo, {c.bus, fence, c.br, "", "FUNCTION_TEST", 0});
    ::close(fd);
    if (!sent)
        return command_outcome::unreachable;

    const auto deadline = steady::now() + timeout;
    std::string fence_answer;
    for (;;) {
        if (tools::read_whole(fence_path, fence_answer) &&
            cmd::judge_result(fence_answer) == cmd::result_state::final) {
            tools::read_whole(path, document);
            return command_outcome::done;
        }
        if (link.stop != nullptr && *link.stop)
            return command_outcome::stopped;
        const auto now = steady::now();
        if (now >= deadline)
            return command_outcome::timed_out;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int wait_ms = static_cast<int>(std::min<long long>(left + 1, recheck_ms));
        if (link.wait)
            link.wait(wait_ms);
        else
            tools::wait_for_change(link.watch, wait_ms);
    }
}

const char* outcome_text(command_outcome outcome)
{
    switch (outcome) {
    case command_outcome::done:
        return "done";
    case command_outcome::unreachable:
        return "the daemon cannot be reached through its FIFO";
    case command_outcome::timed_out:
        return "no answer from the daemon in time";
    case command_outcome::stopped:
        return "stopped";
    }
    return "";
}

} // namespace velkor::poll
