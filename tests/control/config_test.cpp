#include <gtest/gtest.h>

#include "base/trace.h"
#include "control/settings.h"
#include "support/test_support.h"

namespace velkor {

namespace {

control::settings read(const std::string& content)
{
    testing::temp_dir dir;
    testing::write_file(dir.file("mbus.conf"), content);
    control::settings s;
    EXPECT_EQ(0, control::read_configuration(dir.file("mbus.conf").c_str(), s));
    return s;
}

} // namespace

TEST(Configuration, ControllerKeys)
{
    const auto s = read("path_output=/out path_input=/in/fifo\nlog_level=3\nbus_0=/dev/ttyS12\n"
                        "primary_reset=7 primary_start=10\nunknown=1 log_size=99\n");
    EXPECT_EQ("/out", s.path_output.view());
    EXPECT_EQ("/in/fifo", s.path_input.view());
    EXPECT_EQ(3, s.log_level);
    EXPECT_EQ("/dev/ttyS12", s.serial_port_name.view());
    EXPECT_EQ(12, s.serial_port_number);
    EXPECT_EQ(7, s.primary_reset);
    EXPECT_EQ(10, s.primary_start);
}

TEST(Configuration, SyntaxCases)
{
    EXPECT_EQ("/tmp/fifo", read("path_input=/tmp/fifo #the FIFO\n").path_input.view());
    EXPECT_EQ("/a=b", read("path_output=/a=b\n").path_output.view());
    EXPECT_EQ(20, read("primary_start=10\nprimary_start=20\n").primary_start);
    EXPECT_EQ(1, read("bus_0=/dev/ttyUSB\n").serial_port_number);
    EXPECT_EQ(3, read("bus_0=/dev/tty-S3x\n").serial_port_number);
    EXPECT_EQ("", read("# nothing\n").path_input.view());
}

TEST(Configuration, TwoTraceSwitchesOnOneLine)
{
    ::testing::internal::CaptureStdout();
    read("debug_fifo=1 debug_mbus_control=2\n");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(1, trace::fifo);
    EXPECT_EQ(2, trace::control);
    trace::fifo = 0;
    trace::control = 0;
}

TEST(Configuration, ValuesLongerThan255AreCut)
{
    const auto s = read("path_output=/" + std::string(400, 'x') + "\n");
    EXPECT_EQ(255u, s.path_output.size());
}

TEST(Configuration, LinkTimingKeys)
{
    using link::timing_profile;
    struct row {
        const char* content;
        timing_profile profile;
        int pause, margin, retries;
    };
    const row rows[] = {
        {"", timing_profile::classic, 50, 50, 2},
        {"link_timing=standard", timing_profile::standard, 50, 50, 2},
        {"link_timing=Standard", timing_profile::classic, 50, 50, 2},
        {"link_timing=standard link_timing=fast", timing_profile::classic, 50, 50, 2},
        // Read in either profile; a negative value means none.
        {"link_pause_ms=20 link_margin_ms=120 link_retries=5", timing_profile::classic, 20, 120, 5},
        {"link_timing=standard link_pause_ms=-3 link_margin_ms=-1 link_retries=-2", timing_profile::standard, 0, 0, 0},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.content);
        const auto s = read(r.content);
        EXPECT_EQ(r.profile, s.timing.profile);
        EXPECT_EQ(r.pause, s.timing.pause_ms);
        EXPECT_EQ(r.margin, s.timing.margin_ms);
        EXPECT_EQ(r.retries, s.timing.retries);
    }
}

TEST(Configuration, MissingFileReportsPathAndError)
{
    control::settings s;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(-1, control::read_configuration("/nonexistent/mbus.conf", s));
    EXPECT_EQ("/nonexistent/mbus.conf: No such file or directory\n", ::testing::internal::GetCapturedStderr());
}

} // namespace velkor
