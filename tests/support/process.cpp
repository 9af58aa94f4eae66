#include "support/process.h"

#include <algorithm>
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

process process::start(const std::vector<std::string>& argv)
{
    auto dir = std::make_unique<temp_dir>();
    process p = start(argv, dir->file("out"), dir->file("err"));
    p.own_dir = std::move(dir);
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

std::string process::read_line(int timeout_ms)
{
    std::string rest;
    eventually(timeout_ms, [&] {
        rest = out().substr(std::min(out_read, out().size()));
        return rest.find('\n') != std::string::npos;
    });
    const std::size_t end = rest.find('\n');
    out_read += end == std::string::npos ? rest.size() : end + 1;
    return rest.substr(0, end);
}

int process::finish(std::string& out_text, std::string& err_text, int timeout_ms)
{
    if (!wait(timeout_ms))
        stop();
    const std::string all = out();
    out_text = all.substr(std::min(out_read, all.size()));
    err_text = err();
    return status;
}

process::process(process&& other) noexcept
    : pid(other.pid),
      out_path(std::move(other.out_path)),
      err_path(std::move(other.err_path)),
      status(other.status),
      own_dir(std::move(other.own_dir)),
      out_read(other.out_read)
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
        own_dir = std::move(other.own_dir);
        out_read = other.out_read;
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
