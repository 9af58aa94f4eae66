// The daemon as a service: what it tells systemd, SIGHUP after a log
// rotation, its level-1 entries on standard error, and a command line it
// must not guess at.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "control/command_record.h"
#include "control/notify_socket.h"
#include "control/service.h"
#include "support/process.h"
#include "support/pty.h"
#include "support/test_support.h"

namespace velkor::testing {

TEST(service_notifier, SpeaksToTheSocketNamedAndToNoOther)
{
    temp_dir dir;
    for (const std::string& name : {"@velkor-notify-" + std::to_string(::getpid()), dir.file("notify")}) {
        notify_socket systemd(name);
        control::service_notifier n;
        ASSERT_TRUE(control::notifier_open(n, name.c_str())) << name;
        EXPECT_TRUE(control::notify(n, "READY=1"));
        EXPECT_EQ("READY=1", systemd.next());
        control::notify_serving(n, "/run/velkor/cmd.fifo", "/dev/ttyUSB0", true);
        control::notify_serving(n, "/run/velkor/cmd.fifo", "/dev/ttyUSB0", true);  // unchanged: not sent again
        control::notify_serving(n, "/run/velkor/cmd.fifo", "/dev/ttyUSB0", false);
        EXPECT_EQ("STATUS=serving /run/velkor/cmd.fifo on /dev/ttyUSB0", systemd.next());
        EXPECT_EQ("STATUS=serving /run/velkor/cmd.fifo on /dev/ttyUSB0, line lost", systemd.next(1000));
        control::notifier_close(n);
    }
    // Without a socket, or with a name no socket can have: silent.
    for (const char* name : {static_cast<const char*>(nullptr), "", "@", "notify", "vsock:2:9"}) {
        control::service_notifier n;
        EXPECT_FALSE(control::notifier_open(n, name)) << (name ? name : "(unset)");
        EXPECT_FALSE(control::notify(n, "READY=1"));
    }
}

// logrotate's way: the logs are moved aside, then SIGHUP. The adapter was
// missing at start and is there when the signal comes.
TEST(service_daemon, NotifiesItsLifeAndReopensLogsAndLineOnHangup)
{
    temp_dir dir;
    pty_pair adapter;
    ASSERT_TRUE(adapter.ok());
    const std::string fifo = dir.file("fifo"), device = dir.file("ttyS-adapter"), conf = dir.file("mbus.conf");
    ::mkdir(dir.file("out").c_str(), 0700);
    write_file(conf, "path_input=" + fifo + " path_output=" + dir.file("out") + " path_mbusLog=" + dir.path +
                         " log_size=100000 log_size_dev=100000 log_console=1 bus_0=" + device + "\n");
    notify_socket systemd("@velkor-daemon-" + std::to_string(::getpid()));
    ::setenv("NOTIFY_SOCKET", systemd.name.c_str(), 1);
    auto daemon = process::start({built_program("velkor"), "--config", conf}, dir.file("out.txt"), dir.file("err.txt"));
    ::unsetenv("NOTIFY_SOCKET");

    EXPECT_EQ("READY=1", systemd.next());
    EXPECT_EQ("STATUS=serving " + fifo + " on " + device + ", line lost", systemd.next());
    ASSERT_EQ(0, ::symlink(adapter.device.c_str(), device.c_str()));
    for (const char* log : {"mbusLog", "mbusLogDev"})
        ASSERT_EQ(0, std::rename(dir.file(log).c_str(), dir.file(std::string(log) + ".1").c_str()));
    ::kill(daemon.pid, SIGHUP);
    EXPECT_EQ("STATUS=serving " + fifo + " on " + device, systemd.next());
    EXPECT_NE(std::string::npos, read_file(dir.file("mbusLog.1")).find("SERIAL: Can not open " + device));
    EXPECT_NE(std::string::npos,
              read_file(dir.file("mbusLog")).find("velkor: SIGHUP: log files and line " + device + " reopened"));

    control::command_record r;
    std::strcpy(r.cmd.data(), "FUNCTION_TEST");
    r.id = 3;
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_EQ(332, ::write(fd, &r, sizeof r));
    ::close(fd);
    EXPECT_TRUE(eventually(10000, [&] { return read_file(dir.file("out/mbus_3")).find("OK") != std::string::npos; }));

    ::kill(daemon.pid, SIGTERM);
    EXPECT_EQ("STOPPING=1", systemd.next());
    ASSERT_TRUE(daemon.wait(10000));
    EXPECT_EQ(0, daemon.status);
    // Only the level-1 entries, each with the priority the journal takes.
    EXPECT_EQ("<3>SERIAL: Can not open " + device + "\n<3>SERIAL: " + device +
                  ": No such file or directory\n<6>velkor: SIGHUP: log files and line " + device +
                  " reopened\n<6>velkor: ended by signal 15\n",
              daemon.err());
}

TEST(service_daemon, RefusesACommandLineItDoesNotKnow)
{
    temp_dir dir;
    const std::vector<std::vector<std::string>> cases = {
        {"--config"}, {"--config="}, {"--conf", "x.conf"}, {"-c", "x.conf"}, {"x.conf"}, {"--config", "x.conf", "--bogus"}};
    for (const auto& extra : cases) {
        std::vector<std::string> argv = {built_program("velkor")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto p = process::start(argv, dir.file("out"), dir.file("err"));
        ASSERT_TRUE(p.wait(5000));
        EXPECT_EQ(2, p.status) << ::testing::PrintToString(extra);
        EXPECT_EQ("", p.out()) << "nothing starts";
        EXPECT_NE(std::string::npos, p.err().find("usage: velkor [--config PATH]")) << p.err();
    }
}

} // namespace velkor::testing
