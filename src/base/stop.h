#pragma once
// How the daemon is asked to end: SIGTERM or SIGINT only set a flag, and the
// daemon ends at its next safe point (between records, or a receive cut
// short). The flag is necessarily a process-wide global: a signal handler has
// nothing else to reach.

#include <atomic>

namespace velkor::stop {

// The number of the signal that asked the daemon to end; 0 while none did.
// Lock-free, so the handler may set it whichever thread the signal meets.
inline std::atomic<int> requested{0};
static_assert(std::atomic<int>::is_always_lock_free);

inline bool is_requested() { return requested.load() != 0; }

// SIGTERM and SIGINT set the flag. They are installed without SA_RESTART, so
// a blocking open or read returns with EINTR and the flag is seen at once.
// SIGPIPE is ignored: a reader that left makes a write fail, never the
// daemon end. Returns 0, or -1 with errno.
int install_handlers();

} // namespace velkor::stop
