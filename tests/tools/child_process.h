#pragma once
// Starting a built program with its standard output and error on pipes.

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velkor::testing {

struct child_process {
    pid_t pid = -1;
    int out = -1;  // the child's standard output
    int err = -1;  // the child's standard error
    int status = -1;

    child_process() = default;
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    explicit child_process(const std::vector<std::string>& args)
    {
        int out_pipe[2], err_pipe[2];
        if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0)
            return;
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out_pipe[1], 1);
            ::dup2(err_pipe[1], 2);
            ::close(out_pipe[0]);
            ::close(err_pipe[0]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        out = out_pipe[0];
        err = err_pipe[0];
    }

    ~child_process()
    {
        if (pid > 0 && status < 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (out >= 0)
            ::close(out);
        if (err >= 0)
            ::close(err);
    }

    bool running()
    {
        if (status >= 0)
            return false;
        int s = 0;
        if (::waitpid(pid, &s, WNOHANG) == pid) {
            status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
            return false;
        }
        return true;
    }

    // One line of the child's output (without the line feed), or "" after the time-out.
    std::string read_line(int timeout_ms)
    {
        std::string line;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{out, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char c;
            if (::read(out, &c, 1) != 1)
                break;
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

    // Waits for the end (killing the child after the time-out) and collects
    // the rest of both outputs. Returns the exit status, 128 + signal when killed.
    int finish(std::string& stdout_text, std::string& stderr_text, int timeout_ms = 20000)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        bool out_open = true, err_open = true;
        while (out_open || err_open) {
            pollfd p[2] = {{out_open ? out : -1, POLLIN, 0}, {err_open ? err : -1, POLLIN, 0}};
            if (std::chrono::steady_clock::now() >= end && running())
                ::kill(pid, SIGKILL);
            if (::poll(p, 2, 50) <= 0)
                continue;
            char buffer[4096];
            for (int i = 0; i < 2; ++i) {
                if (!(p[i].revents & (POLLIN | POLLHUP)))
                    continue;
                const ssize_t n = ::read(p[i].fd, buffer, sizeof buffer);
                if (n <= 0)
                    (i == 0 ? out_open : err_open) = false;
                else
                    (i == 0 ? stdout_text : stderr_text).append(buffer, static_cast<std::size_t>(n));
            }
        }
        while (running())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return status;
    }
};

} // namespace velkor::testing
