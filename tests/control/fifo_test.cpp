#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "control/fifo.h"
#include "log/trace.h"
#include "support/test_support.h"

namespace velkor {

namespace {

struct recording_sink final : control::record_sink {
    std::vector<control::command_record> records;
    int breaks = 0;
    void check_break() override { ++breaks; }
    void dispatch(const control::command_record& r) override { records.push_back(r); }
};

control::command_record record(const char* cmd, int id)
{
    control::command_record r;
    std::strncpy(r.bus.data(), "/dev/ttyS1", r.bus.size());
    std::strncpy(r.cmd.data(), cmd, r.cmd.size());
    std::strncpy(r.secAdr.data(), "12345678-AAA-1-7", r.secAdr.size());
    r.id = id;
    r.br = 2400;
    r.param = 9;
    return r;
}

struct fifo_fixture : ::testing::Test {
    testing::temp_dir dir;
    std::string path = dir.file("fifo");
    log::log_settings log;
    fifo_fixture()
    {
        log.directory.assign(dir.path);
        log.size = log.size_dev = 1 << 20;
    }
};

// Writes the bytes in one write, as a client must, then closes.
void write_in_one(const std::string& path, const std::vector<char>& bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), ::write(fd, bytes.data(), bytes.size()));
    ::close(fd);
}

std::vector<char> bytes_of(const control::command_record& r, std::size_t n = sizeof(control::command_record))
{
    const char* p = reinterpret_cast<const char*>(&r);
    return {p, p + n};
}

} // namespace

TEST_F(fifo_fixture, CreatedWithMode0600AndExistingFifoAccepted)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    EXPECT_EQ(0, control::create_command_fifo(path.c_str()));
}

TEST_F(fifo_fixture, PathsThatCannotServeAsFifoFail)
{
    testing::write_file(dir.file("regular"), "x");
    ::mkdir(dir.file("directory").c_str(), 0700);
    for (const std::string& p : {dir.file("regular"), dir.file("directory"), dir.file("no/such/dir/fifo"), std::string()})
        EXPECT_EQ(-1, control::create_command_fifo(p.c_str())) << p;
}

TEST_F(fifo_fixture, RecordsWaitingBeforeStartAreDrained)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    const int keep = ::open(path.c_str(), O_RDWR);  // holds the FIFO open while nobody reads
    const auto old = bytes_of(record("GET_DATA", 1));
    ASSERT_EQ(332, ::write(keep, old.data(), old.size()));
    ASSERT_EQ(332, ::write(keep, old.data(), old.size()));
    EXPECT_EQ(664, control::drain_command_fifo(path.c_str()));
    EXPECT_EQ(0, control::drain_command_fifo(path.c_str()));
    ::close(keep);
}

TEST_F(fifo_fixture, PassDispatchesRecordsInOrderUntilWritersClose)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    std::vector<char> stream = bytes_of(record("GET_DATA", 7));
    const auto second = bytes_of(record("HALLO", 8));
    stream.insert(stream.end(), second.begin(), second.end());
    // A short third record: 260 bytes hold the bus name and the id only.
    const auto third = bytes_of(record("", 9), 260);
    stream.insert(stream.end(), third.begin(), third.end());

    recording_sink sink;
    std::thread client([&] { write_in_one(path, stream); });
    EXPECT_EQ(0, control::read_command_fifo(path.c_str(), log, sink));
    client.join();

    ASSERT_EQ(3u, sink.records.size());
    EXPECT_EQ(3, sink.breaks);
    EXPECT_STREQ("GET_DATA", sink.records[0].cmd.data());
    EXPECT_EQ(7, sink.records[0].id);
    EXPECT_STREQ("HALLO", sink.records[1].cmd.data());
    EXPECT_EQ(2400, sink.records[1].br);
    // Nothing of the record before it survives in the short one.
    EXPECT_EQ(9, sink.records[2].id);
    EXPECT_EQ(0, sink.records[2].br);
    EXPECT_STREQ("", sink.records[2].secAdr.data());
    EXPECT_STREQ("", sink.records[2].cmd.data());
    EXPECT_EQ(0, sink.records[2].param);
    EXPECT_NE(std::string::npos,
              testing::read_file(dir.file("mbusLog")).find("FIFO: short record of 260 of 332 bytes"));
}

TEST_F(fifo_fixture, NextPassWaitsForTheNextClient)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    recording_sink sink;
    for (int id : {1, 2}) {
        std::thread client([&] { write_in_one(path, bytes_of(record("HALLO", id))); });
        EXPECT_EQ(0, control::read_command_fifo(path.c_str(), log, sink));
        client.join();
    }
    ASSERT_EQ(2u, sink.records.size());
    EXPECT_EQ(2, sink.records[1].id);
}

TEST_F(fifo_fixture, UnterminatedTextFieldsStayInTheirField)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    control::command_record r;
    std::memset(r.bus.data(), 'b', r.bus.size());
    std::memset(r.secAdr.data(), 's', r.secAdr.size());
    std::memset(r.cmd.data(), 'c', r.cmd.size());
    recording_sink sink;
    std::thread client([&] { write_in_one(path, bytes_of(r)); });
    trace::fifo = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(0, control::read_command_fifo(path.c_str(), log, sink));
    const std::string out = ::testing::internal::GetCapturedStdout();
    trace::fifo = 0;
    client.join();
    ASSERT_EQ(1u, sink.records.size());
    EXPECT_NE(std::string::npos, out.find("cmd = " + std::string(32, 'c') + "   param = 0\n"));
    EXPECT_NE(std::string::npos, out.find("secAdr = " + std::string(32, 's') + "   cmd"));
    EXPECT_NE(std::string::npos, out.find("empfangen: 332 von 332 Bytes\n"));
}

TEST_F(fifo_fixture, MissingFifoCannotBeRead)
{
    recording_sink sink;
    EXPECT_EQ(-1, control::read_command_fifo(dir.file("none").c_str(), log, sink));
}

} // namespace velkor
