#pragma once
// Starting the built programs from tests: output goes to files, so a test can
// read what a program printed while it runs or after it ended.

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velkor::testing {

struct process {
    pid_t pid = -1;
    std::string out_path;
    std::string err_path;
    int status = -1;  // exit status once ended; 128 + signal when killed

    // Starts argv[0] with the arguments; stdout and stderr go to the two files.
    static process start(const std::vector<std::string>& argv, const std::string& out_path,
                         const std::string& err_path);
    // Waits up to timeout_ms for the end; false when it still runs.
    bool wait(int timeout_ms);
    // SIGTERM, then SIGKILL if it does not end at once; always reaped.
    void stop();
    std::string out() const;
    std::string err() const;

    process() = default;
    process(process&& other) noexcept;
    process& operator=(process&& other) noexcept;
    process(const process&) = delete;
    ~process();
};

// Polls until the predicate holds or timeout_ms have passed.
bool eventually(int timeout_ms, const std::function<bool()>& predicate);

} // namespace velkor::testing
