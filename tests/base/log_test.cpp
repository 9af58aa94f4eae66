#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "base/log.h"
#include "base/trace.h"
#include "support/test_support.h"

namespace velkor {

namespace {

struct log_fixture : ::testing::Test {
    testing::temp_dir dir;
    log::log_settings settings;
    log_fixture()
    {
        settings.directory.assign(dir.path);
        settings.size = 1000000;
        settings.size_dev = 1000000;
    }
    std::string file(const char* name) { return testing::read_file(dir.file(name)); }
    bool exists(const char* name) { return std::ifstream(dir.file(name)).good(); }
};

std::size_t lines(const std::string& s) { return static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')); }

} // namespace

TEST_F(log_fixture, EntryFormat)
{
    log::log_write(settings, "mbus_control", 704, 1, "SLAVE_SEARCH: started");
    const std::string entry = file("mbusLogDev");
    // 06.12.26 21:06:45 | SLAVE_SEARCH: started [mbus_control / 704]\n
    ASSERT_EQ(17u + 3, entry.find("SLAVE_SEARCH"));
    EXPECT_EQ(" | SLAVE_SEARCH: started [mbus_control / 704]\n", entry.substr(17));
    EXPECT_EQ('.', entry[2]);
    EXPECT_EQ(':', entry[11]);
}

TEST_F(log_fixture, LevelRouting)
{
    log::log_write(settings, "m", 1, 1, "one");
    log::log_write(settings, "m", 2, 2, "two");
    log::log_write(settings, "m", 3, 0, "zero");
    log::log_write(settings, "m", 4, 3, "three");
    EXPECT_EQ(4u, lines(file("mbusLogDev")));
    EXPECT_EQ(1u, lines(file("mbusLog")));
    EXPECT_NE(std::string::npos, file("mbusLog").find("one"));
}

TEST_F(log_fixture, RotationBoundaries)
{
    struct row {
        int limit;
        std::size_t existing;
        bool rotates;
    };
    for (const row& r : {row{10, 10, false}, row{10, 11, true}, row{-1, 0, true}, row{0, 0, false}, row{0, 1, true}}) {
        std::remove(dir.file("mbusLogDev.bac").c_str());
        testing::write_file(dir.file("mbusLogDev"), std::string(r.existing, 'x'));
        settings.size_dev = r.limit;
        log::log_write(settings, "m", 1, 2, "entry");
        EXPECT_EQ(r.rotates, exists("mbusLogDev.bac")) << r.limit << " " << r.existing;
        if (r.rotates) {
            EXPECT_EQ(std::string(r.existing, 'x'), file("mbusLogDev.bac"));
        }
        const std::string kept = r.rotates ? "" : std::string(r.existing, 'x');
        EXPECT_EQ(kept, file("mbusLogDev").substr(0, kept.size()));
        EXPECT_EQ(1u, lines(file("mbusLogDev")));
    }
}

TEST_F(log_fixture, ZeroLimitsKeepNewestEntryAndOneBackup)
{
    settings.size = 0;
    settings.size_dev = 0;
    log::log_write(settings, "m", 1, 1, "first");
    log::log_write(settings, "m", 2, 1, "second");
    log::log_write(settings, "m", 3, 1, "third");
    for (const char* name : {"mbusLog", "mbusLogDev"}) {
        EXPECT_NE(std::string::npos, file(name).find("third"));
        EXPECT_EQ(1u, lines(file(name)));
        EXPECT_NE(std::string::npos, testing::read_file(dir.file(name) + ".bac").find("second"));
    }
}

TEST_F(log_fixture, LogBeyondTwoGibibytesIsStillRotated)
{
    // Sparse: takes no disk space, but its size needs a 64-bit off_t.
    testing::write_file(dir.file("mbusLogDev"), "old\n");
    ASSERT_EQ(0, ::truncate(dir.file("mbusLogDev").c_str(), static_cast<off_t>(3LL << 30)));
    log::log_write(settings, "m", 1, 2, "entry");
    struct stat st {};
    ASSERT_EQ(0, ::stat(dir.file("mbusLogDev.bac").c_str(), &st));
    EXPECT_EQ(3LL << 30, static_cast<long long>(st.st_size));
    EXPECT_EQ(1u, lines(file("mbusLogDev")));
}

TEST_F(log_fixture, MissingDirectoryLosesEntriesSilently)
{
    testing::write_file(dir.file("a_file"), "");
    for (const char* unusable : {"missing", "a_file"}) {
        settings.directory.assign(dir.file(unusable));
        ::testing::internal::CaptureStderr();
        ::testing::internal::CaptureStdout();
        log::log_write(settings, "m", 1, 1, "lost");
        EXPECT_EQ("", ::testing::internal::GetCapturedStdout());
        EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
    }
    EXPECT_EQ(file("a_file"), "");
}

// Cut to 255 characters, the four names would collapse into one, and rotation
// would delete the live log.
TEST_F(log_fixture, LongDirectoryKeepsItsFourFilesApart)
{
    std::string deep = dir.path;
    while (deep.size() < 250) {
        const std::size_t name = std::min<std::size_t>(60, 250 - deep.size() - 1);
        deep.append(1, '/').append(name, 'd');
        ::mkdir(deep.c_str(), 0700);
    }
    ASSERT_EQ(deep.size(), 250u);
    settings.directory.assign(deep);
    settings.size = settings.size_dev = 0;
    log::log_write(settings, "m", 1, 1, "first");
    log::log_write(settings, "m", 1, 1, "second");
    for (const char* name : {"/mbusLog", "/mbusLogDev"}) {
        EXPECT_NE(testing::read_file(deep + name).find("second"), std::string::npos) << name;
        EXPECT_NE(testing::read_file(deep + name + ".bac").find("first"), std::string::npos) << name;
    }
}

TEST_F(log_fixture, DeveloperLogThatIsADirectoryKeepsNothingFromMainLog)
{
    ASSERT_EQ(0, ::mkdir(dir.file("mbusLogDev").c_str(), 0700));
    settings.size_dev = 1 << 30;  // a directory is never rotated away below its size
    ::testing::internal::CaptureStderr();
    trace::logging = 1;
    ::testing::internal::CaptureStdout();
    log::log_write(settings, "m", 1, 1, "entry");
    ::testing::internal::GetCapturedStdout();
    trace::logging = 0;
    EXPECT_NE(std::string::npos, ::testing::internal::GetCapturedStderr().find("MBUS_LOG: could not write file"));
    EXPECT_NE(std::string::npos, file("mbusLog").find("entry"));
}

TEST_F(log_fixture, LongMessageKeepsItsSource)
{
    const std::string message(3000, 'm');
    log::log_write(settings, "serial", 12, 2, message);
    const std::string entry = file("mbusLogDev");
    EXPECT_EQ(" [serial / 12]\n", entry.substr(entry.size() - 15));
}

TEST(LogConfiguration, ReadsItsFiveKeysOnly)
{
    testing::temp_dir dir;
    testing::write_file(dir.file("conf"), "path_mbusLog=/var/log/x log_size=100 # comment log_size=5\n"
                                          "log_size_dev=abc log_time_format=-3\npath_output=/o log_size=200\n");
    log::log_settings s;
    ASSERT_EQ(0, log::read_log_configuration(dir.file("conf").c_str(), s));
    EXPECT_EQ("/var/log/x", s.directory.view());
    EXPECT_EQ(200, s.size);
    EXPECT_EQ(0, s.size_dev);
    EXPECT_EQ(-3, s.time_format);
}

} // namespace velkor
