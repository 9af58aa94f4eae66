#pragma once
// Commands through the daemon's FIFO. A command that may write no result
// (GET_RAW_DATA of a meter that does not answer writes none) is followed by
// a FUNCTION_TEST: the daemon serves records in order, so once that answer is
// there the command is done, with or without a document of its own.

#include <csignal>
#include <functional>
#include <string>

#include "common/daemon_client.h"
#include "poll_config.h"

namespace velkor::poll {

enum class command_outcome {
    done,         // the document is the command's result; empty when it wrote none
    unreachable,  // the FIFO could not be opened or written
    timed_out,
    stopped,      // a signal asked us to end
};

struct daemon_link {
    const poll_config* config = nullptr;
    int watch = -1;                                  // inotify on the output directory, -1 to poll
    std::function<void(int timeout_ms)> wait;       // waits for a change, doing other work meanwhile
    const volatile std::sig_atomic_t* stop = nullptr;
};

// `command` with result number id_base (SLAVE_SEARCH: id_base + 2), fenced by
// FUNCTION_TEST id_base + 1.
command_outcome run_fenced(daemon_link& link, const std::string& command, const std::string& secondary,
                           std::chrono::seconds timeout, std::string& document);

const char* outcome_text(command_outcome outcome);

} // namespace velkor::poll
