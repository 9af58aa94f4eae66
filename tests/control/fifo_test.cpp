#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/trace.h"
#include "control/fifo.h"
#include "support/process.h"
#include "support/test_support.h"

namespace velkor {

namespace {

// Takes a record "FUNCTION_TEST" as its last. While the gate is closed, dispatching
// waits, as a long command does.
struct recording_sink final : control::record_sink {
    std::mutex m;
    std::vector<control::command_record> records;
    int breaks = 0;
    std::atomic<bool> gate_open{true};
    std::atomic<int> entered{0};
    void check_break() override { ++breaks; }
    void dispatch(const control::command_record& r) override
    {
        ++entered;
        while (!gate_open)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::mutex> lock(m);
        records.push_back(r);
    }
    bool done() override
    {
        std::lock_guard<std::mutex> lock(m);
        return !records.empty() && std::strcmp(records.back().cmd.data(), "FUNCTION_TEST") == 0;
    }
    std::size_t count()
    {
        std::lock_guard<std::mutex> lock(m);
        return records.size();
    }
};

control::command_record record(const char* cmd, int id)
{
    control::command_record r;
    std::strncpy(r.bus.data(), "/dev/ttyS1", r.bus.size());
    std::memcpy(r.cmd.data(), cmd, strnlen(cmd, r.cmd.size() - 1));
    std::strncpy(r.secAdr.data(), "12345678-AAA-1-7", r.secAdr.size());
    r.id = id;
    r.br = 2400;
    r.param = 9;
    return r;
}

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

struct fifo_fixture : ::testing::Test {
    testing::temp_dir dir;
    std::string path = dir.file("fifo");
    log::log_settings log;
    recording_sink sink;
    std::thread reader;
    int result = 1;
    std::atomic<bool> serving{false};

    fifo_fixture()
    {
        log.directory.assign(dir.path);
        log.size = log.size_dev = 1 << 20;
    }
    ~fifo_fixture() override
    {
        if (reader.joinable())
            finish();
    }
    void serve()
    {
        EXPECT_EQ(0, control::create_command_fifo(path.c_str()));
        serving = true;
        reader = std::thread([this] {
            result = control::read_command_fifo(path.c_str(), log, sink);
            serving = false;
        });
    }
    // Ends serving with the sink's last record.
    void finish()
    {
        sink.gate_open = true;
        if (serving)
            write_in_one(path, bytes_of(record("FUNCTION_TEST", 0)));
        reader.join();
        EXPECT_EQ(0, result);
    }
    bool served(std::size_t n)
    {
        return testing::eventually(10000, [&] { return sink.count() >= n; });
    }
    bool logged(const std::string& entry)
    {
        return testing::eventually(10000, [&] {
            return testing::read_file(dir.file("mbusLog")).find(entry) != std::string::npos;
        });
    }
};

} // namespace

TEST_F(fifo_fixture, CreatedWithMode0660AndExistingFifoAccepted)
{
    ASSERT_EQ(0, control::create_command_fifo(path.c_str()));
    struct stat st;
    ASSERT_EQ(0, ::stat(path.c_str(), &st));
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(0660u, st.st_mode & 0777);
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

TEST_F(fifo_fixture, RecordsRunInOrderAndAShortOneIsRefused)
{
    serve();
    std::vector<char> stream = bytes_of(record("GET_DATA", 7));
    const auto second = bytes_of(record("HALLO", 8));
    stream.insert(stream.end(), second.begin(), second.end());
    // A short third record: 260 bytes hold the bus name and the id only.
    const auto third = bytes_of(record("HALLO", 9), 260);
    stream.insert(stream.end(), third.begin(), third.end());
    write_in_one(path, stream);
    ASSERT_TRUE(logged("FIFO: short record of 260 of 332 bytes, not run"));
    finish();

    ASSERT_EQ(3u, sink.records.size());
    EXPECT_EQ(3, sink.breaks);
    EXPECT_STREQ("GET_DATA", sink.records[0].cmd.data());
    EXPECT_EQ(7, sink.records[0].id);
    EXPECT_STREQ("HALLO", sink.records[1].cmd.data());
    EXPECT_EQ(2400, sink.records[1].br);
    EXPECT_STREQ("FUNCTION_TEST", sink.records[2].cmd.data());
}

TEST_F(fifo_fixture, ReadEndStaysOpenBetweenWriters)
{
    serve();
    write_in_one(path, bytes_of(record("HALLO", 1)));
    ASSERT_TRUE(served(1));
    // The last writer has gone, yet a reader is still there for the next one.
    const int next = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(next, 0);
    ::close(next);

    // Writers that open, write one record and close, racing each other.
    std::vector<std::thread> clients;
    for (int c = 0; c < 2; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < 100; ++i)
                write_in_one(path, bytes_of(record("HALLO", 1000 * (c + 1) + i)));
        });
    for (auto& t : clients)
        t.join();
    EXPECT_TRUE(served(201)) << sink.count();
}

TEST_F(fifo_fixture, SplitRecordAndGarbageNeverRunSpliced)
{
    serve();
    sink.gate_open = false;  // the first record keeps the daemon busy
    write_in_one(path, bytes_of(record("GET_DATA", 1)));
    ASSERT_TRUE(testing::eventually(10000, [&] { return sink.entered == 1; }));
    const auto split = bytes_of(record("SLAVE_SEARCH", 2));
    const std::vector<std::vector<char>> writes = {
        {split.begin(), split.begin() + 166},
        bytes_of(record("HALLO", 3)),
        {split.begin() + 166, split.end()},
        std::vector<char>(100, '\xFF'),
        bytes_of(record("HALLO", 4)),
    };
    for (const auto& w : writes)
        write_in_one(path, w);
    sink.gate_open = true;
    ASSERT_TRUE(logged("bytes waiting behind it thrown away"));
    write_in_one(path, bytes_of(record("HALLO", 5)));  // after the fault, served again
    ASSERT_TRUE(served(2));
    finish();

    std::vector<int> ids;
    for (const auto& r : sink.records) {
        const auto good = bytes_of(record(r.cmd.data(), r.id));
        EXPECT_EQ(0, std::memcmp(good.data(), &r, good.size())) << "spliced record ran: " << r.id;
        ids.push_back(r.id);
    }
    EXPECT_EQ((std::vector<int>{1, 5, 0}), ids);
}

TEST(fifo_record, RefusedUnlessWholeAndWellFormed)
{
    struct row {
        const char* name;
        int count;
        void (*spoil)(control::command_record&);
        const char* why;
    };
    const row rows[] = {
        {"whole", 332, [](control::command_record&) {}, ""},
        {"short", 331, [](control::command_record&) {}, "short record of 331 of 332 bytes, not run"},
        {"bus", 332, [](control::command_record& r) { r.bus.fill('b'); },
         "field bus without terminating zero, record not run"},
        {"secAdr", 332, [](control::command_record& r) { r.secAdr.fill('s'); },
         "field secAdr without terminating zero, record not run"},
        {"cmd", 332, [](control::command_record& r) { r.cmd.fill('c'); },
         "field cmd without terminating zero, record not run"},
        {"no command", 332, [](control::command_record& r) { r.cmd.fill(0); }, "record without command name, not run"},
        // Names as a record read two bytes out of step shows them, or a typo.
        {"shifted", 332, [](control::command_record& r) { std::strcpy(r.cmd.data(), "NCTION_TEST"); },
         "unknown command NCTION_TEST"},
        {"unknown", 332, [](control::command_record& r) { std::strcpy(r.cmd.data(), "HALLO\x01\xC3\xA4X "); },
         "unknown command HALLOX "},
        {"contains SETSECADR_", 332, [](control::command_record& r) { std::strcpy(r.cmd.data(), "XSETSECADR_1-A"); }, ""},
        {"contains FILE", 332, [](control::command_record& r) { std::strcpy(r.cmd.data(), "FILE /tmp/f"); }, ""},
        {"control byte in bus", 332, [](control::command_record& r) { r.bus[3] = '\n'; },
         "field bus holds non-printable bytes, record not run"},
    };
    for (const row& r : rows) {
        control::command_record rec = record("HALLO", 1);
        r.spoil(rec);
        text<96> why;
        control::record_fault(rec, r.count, why);
        EXPECT_EQ(std::string_view(r.why), why.view()) << r.name;
    }
}

TEST_F(fifo_fixture, UnterminatedTextFieldsStayInTheirField)
{
    control::command_record r;
    std::memset(r.bus.data(), 'b', r.bus.size());
    std::memset(r.secAdr.data(), 's', r.secAdr.size());
    std::memset(r.cmd.data(), 'c', r.cmd.size());
    trace::fifo = 1;
    ::testing::internal::CaptureStdout();
    serve();
    write_in_one(path, bytes_of(r));
    EXPECT_TRUE(logged("FIFO: field bus without terminating zero, record not run"));
    finish();
    const std::string out = ::testing::internal::GetCapturedStdout();
    trace::fifo = 0;
    ASSERT_EQ(1u, sink.records.size());  // only the last
    EXPECT_NE(std::string::npos, out.find("cmd = " + std::string(32, 'c') + "   param = 0\n"));
    EXPECT_NE(std::string::npos, out.find("secAdr = " + std::string(32, 's') + "   cmd"));
    EXPECT_NE(std::string::npos, out.find("empfangen: 332 von 332 Bytes\n"));
}

TEST_F(fifo_fixture, MissingFifoCannotBeRead)
{
    EXPECT_EQ(-1, control::read_command_fifo(dir.file("none").c_str(), log, sink));
}

} // namespace velkor
