// Documents facing a directory that refuses them: each failure is logged at
// level 1 with its path and the system's reason whatever the traces say, a
// final document that did not come leaves no progress answer behind, and no
// hidden file stays.

#include <fcntl.h>
#include <filesystem>
#include <sys/mount.h>
#include <unistd.h>

#include "results/results_fixture.h"

namespace velkor::results {
namespace {

// A tiny file system of its own, full or read-only even for root.
struct small_fs {
    testing::temp_dir root;
    bool ok = ::mount("tmpfs", root.path.c_str(), "tmpfs", 0, "size=64k") == 0;
    ~small_fs() { ok && ::umount2(root.path.c_str(), MNT_DETACH); }
    std::string file(const std::string& name) const { return root.file(name); }
    void fill() const
    {
        const int fd = ::open(file("filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    bool make_read_only() const { return ::mount(nullptr, root.path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0; }
};

struct refused_document {
    const char* failure;  // the path in place of %s
    const char* file;
    bool final;  // the result file's progress answer must go
    int (*write)(result_files&);
};

const refused_document refused_documents[] = {
    {"GET_DATA: could not write file %s", "mbus_create", true, [](result_files& f) {
         decode::decoded_record r;
         r.tel = r.rec = r.record_count = 1;
         return write_data_file(f, 3, {}, r);
     }},
    {"GET_RAW_DATA: could not write file %s", "mbus_create", true, [](result_files& f) {
         write_raw_file(f, 3, {}, raw_phase::open);
         write_raw_file(f, 3, testing::hex("E5"), raw_phase::telegram);
         return write_raw_file(f, 3, {}, raw_phase::close);
     }},
    {"SLAVE_SEARCH: could not write end of file %s", "mbus_3", true, [](result_files& f) {
         search_progress p;
         p.phase = list_phase::end;
         return write_slaves_file(f, 3, p);
     }},
    {"ANSWER_ACK: could not write file %s", "mbus_3", false,
     [](result_files& f) { return write_ack_answer(f, 3, "OK", "3"); }},
};

TEST_F(results_test, refused_documents_are_logged_and_leave_no_progress_answer)
{
    for (const bool full : {true, false}) {
        for (const refused_document& doc : refused_documents) {
            SCOPED_TRACE(std::string(doc.failure) + (full ? " full" : " read-only"));
            small_fs fs;
            if (!fs.ok)
                GTEST_SKIP() << "no tmpfs can be mounted here";
            files.directory.assign(fs.root.path);
            write_slaves_file(files, 3, search_progress{});
            ASSERT_EQ(write_message_answer(files, 3, "Telegram 1, Receive More"), 0);
            if (full)
                fs.fill();
            else
                ASSERT_TRUE(fs.make_read_only());
            std::filesystem::remove(logs.file("mbusLog"));

            EXPECT_EQ(doc.write(files), -1);
            char failure[512];
            std::snprintf(failure, sizeof failure, doc.failure, fs.file(doc.file).c_str());
            const std::string main_log = testing::read_file(logs.file("mbusLog"));
            EXPECT_NE(main_log.find(std::string(failure) + (full ? ": No space left on device [" : ": Read-only file system [")),
                      std::string::npos) << main_log;
            EXPECT_EQ(std::filesystem::exists(fs.file("mbus_3")), !doc.final || !full) << main_log;
            for (const auto& entry : std::filesystem::directory_iterator(fs.root.path))
                EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
            doc_discard(files.temp);
        }
    }
}

TEST_F(results_test, planted_links_are_never_written_through_and_stale_temporaries_go)
{
    testing::write_file(logs.file("target"), "precious");
    std::filesystem::create_symlink(logs.file("target"), out.file(".mbus_7.tmp"));
    EXPECT_EQ(write_ack_answer(files, 7, "OK", "7"), 0);
    EXPECT_EQ(result(7), "{\"ack_response\":\"OK\",\"primAdr\":\"7\"}");

    std::filesystem::create_symlink(logs.file("target"), out.file("mbus_create"));
    EXPECT_EQ(write_raw_file(files, 8, {}, raw_phase::open), -1);
    EXPECT_EQ(testing::read_file(logs.file("target")), "precious");

    testing::write_file(out.file(".mbus_9.4242.5e1f.tmp"), "half a document of a killed run");
    testing::write_file(out.file(".mbus_keep"), "");
    EXPECT_EQ(remove_temporary_files(files), 3);
    EXPECT_EQ(names(), (std::set<std::string>{".mbus_keep", "mbus_7"}));
    EXPECT_EQ(testing::read_file(logs.file("target")), "precious");
}

} // namespace
} // namespace velkor::results
