// The real daemon and the signals an operator or a vanished reader sends it.

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
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
                                              " path_mbusLog=" + dir.path + " bus_0=" + line.device + "\n" + extra);
        return dir.file("mbus.conf");
    }
    bool exists(const std::string& name)
    {
        struct stat st;
        return ::stat(dir.file(name).c_str(), &st) == 0;
    }

    void send(const std::string& cmd, int id)
    {
        control::command_record r;
        std::memcpy(r.bus.data(), line.device.data(), line.device.size());
        std::strcpy(r.cmd.data(), cmd.c_str());
        std::strcpy(r.secAdr.data(), "12345678-AAA-1-7");
        r.id = id;
        r.br = 300;  // the longest receive: about 3 s
        ASSERT_TRUE(eventually(5000, [&] { return exists("fifo"); }));
        const int fd = ::open(dir.file("fifo").c_str(), O_WRONLY);
        ASSERT_EQ(332, ::write(fd, &r, sizeof r));
        ::close(fd);
    }
};

// What a pty shows of the line settings (it reports no parity).
std::string settings(int fd)
{
    termios t{};
    ::tcgetattr(fd, &t);
    return std::to_string(t.c_lflag) + "/" + std::to_string(t.c_cc[VMIN]) + "/" + std::to_string(::cfgetospeed(&t));
}

} // namespace

TEST_F(signals, TermOrIntDuringAReceiveRestoresThePortAndExitsZero)
{
    ASSERT_TRUE(line.ok());
    const std::string before = settings(line.slave);
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        const std::string conf = config();
        write_file(dir.file("out/.mbus_3.999.1f.tmp"), "left by a killed run");
        auto daemon = process::start({built_program("velkor"), "--config", conf}, dir.file("velkor.out"),
                                     dir.file("velkor.err"));
        send("HALLO", 4);  // nobody answers: once the selection is out, the daemon waits in its receive
        ASSERT_EQ(line.read_master(17, 10000).size(), 17u);
        EXPECT_NE(settings(line.slave), before);
        EXPECT_FALSE(exists("out/.mbus_3.999.1f.tmp"));
        ::kill(daemon.pid, signal);
        ASSERT_TRUE(daemon.wait(10000));
        EXPECT_EQ(daemon.status, 0) << daemon.out();
        EXPECT_EQ(settings(line.slave), before);
        EXPECT_FALSE(exists("out/mbus_4"));
        EXPECT_TRUE(exists("fifo"));
        ::unlink(dir.file("fifo").c_str());  // else the next start drains the next record
        EXPECT_NE(read_file(dir.file("mbusLog")).find("ended by signal " + std::to_string(signal)), std::string::npos);
    }
}

// A standard output nobody reads, with a trace on: the daemon goes on serving.
TEST_F(signals, PipeWithoutReaderNeverEndsTheDaemon)
{
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    const std::string conf = config("debug_mbus_control=1 debug_fifo=1\n");
    const std::string program = built_program("velkor");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::execl(program.c_str(), program.c_str(), "--config", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(out[0]);
    send("FUNCTION_TEST", 6);
    EXPECT_TRUE(eventually(10000, [&] { return read_file(dir.file("out/mbus_6")).find("OK") != std::string::npos; }));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0);
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

} // namespace velkor::testing
