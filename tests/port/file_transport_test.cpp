// The file transport: requests written over the start of an existing file,
// answers read from its start.

#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "base/trace.h"
#include "port/file_transport.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor::testing {
namespace {

struct file_transport_test : ::testing::Test {
    temp_dir dir;
    void TearDown() override { trace::fileio = 0; }
};

TEST_F(file_transport_test, write_overwrites_the_start_without_creating_or_truncating)
{
    const std::string path = dir.file("bus");
    write_file(path, "0123456789");
    EXPECT_EQ(3, port::file_transport_write(path.c_str(), hex("41 42 43")));
    EXPECT_EQ("ABC3456789", read_file(path));

    const std::string missing = dir.file("missing");
    EXPECT_EQ(-1, port::file_transport_write(missing.c_str(), hex("41")));
    EXPECT_FALSE(std::filesystem::exists(missing));

    // A pipe nobody reads fails at once instead of holding the daemon in open.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_EQ(-1, port::file_transport_write(fifo.c_str(), hex("41")));
}

TEST_F(file_transport_test, read_takes_one_buffer_from_the_start)
{
    const std::string path = dir.file("bus");
    std::string content(600, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i);
    write_file(path, content);

    std::array<std::uint8_t, 512> buffer{};
    EXPECT_EQ(512, port::file_transport_read(path.c_str(), buffer));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), content.begin(), [](std::uint8_t a, char b) {
        return a == static_cast<std::uint8_t>(b);
    }));

    write_file(path, "");
    EXPECT_EQ(0, port::file_transport_read(path.c_str(), buffer));
    EXPECT_EQ(-1, port::file_transport_read(dir.file("missing").c_str(), buffer));

    // A pipe nobody writes to answers nothing instead of holding the receive.
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    EXPECT_LE(port::file_transport_read(fifo.c_str(), buffer), 0);
}

TEST_F(file_transport_test, traces_report_the_path_and_failures)
{
    const std::string missing = dir.file("missing");
    std::array<std::uint8_t, 4> buffer{};

    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    port::file_transport_read(missing.c_str(), buffer);  // trace off: silent
    port::set_fileio_trace(1);
    port::file_transport_write(missing.c_str(), buffer);
    port::file_transport_read(missing.c_str(), buffer);
    std::fflush(stdout);
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ("DEBUG_FILEIO\nwrite to " + missing + "\nread from " + missing + "\n", out);
    EXPECT_EQ("could not open file: No such file or directory\n"
              "could not open file: No such file or directory\n",
              err);
}

} // namespace
} // namespace velkor::testing
