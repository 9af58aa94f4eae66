#pragma once
// Starting the built programs from tests: output goes to files, so a test can
// read what a program printed while it runs or after it ended.

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/test_support.h"

namespace velkor::testing {

struct process {
    pid_t pid = -1;
    std::string out_path;
    std::string err_path;
    int status = -1;  // exit status once ended; 128 + signal when killed

    // Starts argv[0] with the arguments; stdout and stderr go to the two files.
    static process start(const std::vector<std::string>& argv, const std::string& out_path,
                         const std::string& err_path);
    // The same with both files in a folder of the process's own.
    static process start(const std::vector<std::string>& argv);
    // Waits up to timeout_ms for the end; false when it still runs.
    bool wait(int timeout_ms);
    bool running() { return !wait(0); }
    // SIGTERM, then SIGKILL if it does not end at once; always reaped.
    void stop();
    std::string out() const;
    std::string err() const;
    // The next line of stdout without its line feed, or what came of it
    // within timeout_ms.
    std::string read_line(int timeout_ms);
    // Waits up to timeout_ms for the end and kills it after that. out gets the
    // stdout that read_line left, err the stderr. The exit status.
    int finish(std::string& out_text, std::string& err_text, int timeout_ms = 20000);

    std::unique_ptr<temp_dir> own_dir;  // of the files, when the process chose them
    std::size_t out_read = 0;           // stdout taken by read_line

    process() = default;
    process(process&& other) noexcept;
    process& operator=(process&& other) noexcept;
    process(const process&) = delete;
    ~process();
};

// Polls until the predicate holds or timeout_ms have passed.
bool eventually(int timeout_ms, const std::function<bool()>& predicate);

} // namespace velkor::testing
