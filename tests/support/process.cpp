#include "support/process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/test_support.h"

namespace velkor::testing {

process process::start(const std::vector<std::string>& argv, const std::string& out_path, const std::string& err_path)
{
    process p;
    p.out_path = out_path;
    p.err_path = err_path;
    p.pid = ::fork();
    if (p.pid == 0) {
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return p;
}

bool process::wait(int timeout_ms)
{
    if (pid <= 0)
        return true;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        int st = 0;
        const pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
            pid = -1;
            return true;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void process::stop()
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    if (!wait(2000)) {
        ::kill(pid, SIGKILL);
        wait(2000);
    }
}

std::string process::out() const { return read_file(out_path); }
std::string process::err() const { return read_file(err_path); }

process::process(process&& other) noexcept
    : pid(other.pid), out_path(std::move(other.out_path)), err_path(std::move(other.err_path)), status(other.status)
{
    other.pid = -1;
}

process& process::operator=(process&& other) noexcept
{
    if (this != &other) {
        stop();
        pid = other.pid;
        out_path = std::move(other.out_path);
        err_path = std::move(other.err_path);
        status = other.status;
        other.pid = -1;
    }
    return *this;
}

process::~process() { stop(); }

bool eventually(int timeout_ms, const std::function<bool()>& predicate)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!predicate()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace velkor::testing
