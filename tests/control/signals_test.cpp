// The real daemon and the signals an operator or a vanished reader sends it.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "control/command_record.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/test_support.h"

namespace velkor::testing {

namespace {

struct signals : ::testing::Test {
    temp_dir dir;
    pty_pair line;

    std::string config(const std::string& extra = "")
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        write_file(dir.file("mbus.conf"), "path_input=" + dir.file("fifo") + " path_output=" + dir.file("out") +
                                              " path_mbusLog=" + dir.path + " log_size=100000 log_size_dev=100000 bus_0=" +
                                              line.device + "\n" + extra);
        return dir.file("mbus.conf");
    }

    void send(const std::string& cmd, int id)
    {
        control::command_record r;
        std::memcpy(r.bus.data(), line.device.data(), line.device.size());
        std::memcpy(r.cmd.data(), cmd.data(), cmd.size());
        std::strcpy(r.secAdr.data(), "12345678-AAA-1-7");
        r.id = id;
        r.br = 300;  // the longest receive: about 3 s
        const int fd = ::open(dir.file("fifo").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(332, ::write(fd, &r, sizeof r));
        ::close(fd);
    }

    bool fifo_ready()
    {
        struct stat st;
        return ::stat(dir.file("fifo").c_str(), &st) == 0;
    }
};

// What a pty shows of the line settings: the local modes, the minimum read
// count and the speed (it reports no parity).
std::string settings(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    return std::to_string(t.c_lflag) + "/" + std::to_string(t.c_cc[VMIN]) + "/" + std::to_string(::cfgetospeed(&t));
}

} // namespace

TEST_F(signals, TermDuringAReceiveRestoresThePortAndExitsZero)
{
    ASSERT_TRUE(line.ok());
    const std::string before = settings(line.slave);
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        auto daemon = process::start({built_program("velkor"), "--config", config()}, dir.file("velkor.out"),
                                     dir.file("velkor.err"));
        ASSERT_TRUE(eventually(5000, [&] { return fifo_ready() && settings(line.slave) != before; }));
        // A HALLO nobody answers: once its selection is out, the daemon waits in its receive.
        send("HALLO", 4);
        ASSERT_EQ(line.read_master(17, 10000).size(), 17u);
        ::kill(daemon.pid, signal);
        ASSERT_TRUE(daemon.wait(10000));
        EXPECT_EQ(daemon.status, 0) << daemon.out();
        EXPECT_EQ(settings(line.slave), before);
        EXPECT_FALSE(std::ifstream(dir.file("out/mbus_4")).good());  // no answer that is no answer
        EXPECT_FALSE(std::ifstream(dir.file("out/mbus_create")).good());
        EXPECT_NE(read_file(dir.file("mbusLog")).find("velkor: ended by signal " + std::to_string(signal)),
                  std::string::npos);
        struct stat st;
        EXPECT_EQ(::stat(dir.file("fifo").c_str(), &st), 0);
    }
}

TEST_F(signals, TermWhileIdleEndsAtOnceAndStaleTemporariesGoAtStart)
{
    ::mkdir(dir.file("out").c_str(), 0700);
    write_file(dir.file("out/.mbus_3.999.1f.tmp"), "half");
    auto daemon = process::start({built_program("velkor"), "--config", config("debug_fifo=1\n")},
                                 dir.file("velkor.out"), dir.file("velkor.err"));
    ASSERT_TRUE(eventually(5000, [&] { return daemon.out().find("bereit zum Lesen") != std::string::npos; }));
    EXPECT_FALSE(std::ifstream(dir.file("out/.mbus_3.999.1f.tmp")).good());
    ::kill(daemon.pid, SIGTERM);
    ASSERT_TRUE(daemon.wait(5000));
    EXPECT_EQ(daemon.status, 0);
}

// A closed standard output with a trace on, and a result reader gone: the
// daemon goes on serving.
TEST_F(signals, PipeWithoutReaderNeverEndsTheDaemon)
{
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const std::string conf = config("debug_mbus_control=1 debug_fifo=1\n");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        const std::string program = built_program("velkor");
        ::execl(program.c_str(), program.c_str(), "--config", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(out[0]);
    ASSERT_TRUE(eventually(5000, [&] {
        struct stat st;
        return ::stat(dir.file("fifo").c_str(), &st) == 0;
    }));
    send("FUNCTION_TEST", 6);
    EXPECT_TRUE(eventually(10000, [&] { return read_file(dir.file("out/mbus_6")).find("OK") != std::string::npos; }));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);  // still serving
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace velkor::testing
