#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "results/results_fixture.h"

namespace velkor::results {
namespace {

TEST_F(results_test, answers_are_the_templates_with_nothing_after_the_brace)
{
    EXPECT_EQ(write_ack_answer(files, 5, "OK", "5"), 0);
    EXPECT_EQ(result(5), "{\"ack_response\":\"OK\",\"primAdr\":\"5\"}");
    EXPECT_EQ(write_message_answer(files, 5, "Telegram 2, Receive More"), 0);
    EXPECT_EQ(result(5), "{\"data_response\":\"Telegram 2, Receive More\"}");
}

TEST_F(results_test, values_are_escaped_and_valid_utf8_kept)
{
    const struct {
        std::string_view in;
        std::string_view out;
    } cases[] = {
        {"say \"hi\"", "say \\\"hi\\\""},
        {"C:\\dir", "C:\\\\dir"},
        {"a\nb\x01\x1F\x7F", "a\\u000Ab\\u0001\\u001F\\u007F"},
        {std::string_view("a\0b", 3), "a\\u0000b"},
        {"x\xB0" "C", "x\\u00B0C"},                            // Latin-1 degree sign
        {"\xC2\xB0" "C \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC2\xB0" "C \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xE2\x82", "\\u00E2\\u0082"},                        // cut sequence
        {"\xC0\xAF", "\\u00C0\\u00AF"},                        // overlong
        {"\xED\xA0\x80", "\\u00ED\\u00A0\\u0080"},             // surrogate
        {"\xF4\x90\x80\x80", "\\u00F4\\u0090\\u0080\\u0080"},  // above U+10FFFF
    };
    for (const auto& c : cases) {
        write_message_answer(files, 1, c.in);
        EXPECT_EQ(result(1), "{\"data_response\":\"" + std::string(c.out) + "\"}") << c.out;
    }
}

TEST_F(results_test, answer_replaces_the_old_document_whole)
{
    write_ack_answer(files, 5, "OK", "5");
    std::ifstream reader(out.file("mbus_5"));  // a client that opened the old document
    write_message_answer(files, 5, "No Answer");
    std::ostringstream seen;
    seen << reader.rdbuf();
    EXPECT_EQ(seen.str(), "{\"ack_response\":\"OK\",\"primAdr\":\"5\"}");
    EXPECT_EQ(result(5), "{\"data_response\":\"No Answer\"}");
    EXPECT_EQ(names(), std::set<std::string>{"mbus_5"});

    // Anything planted at a hidden name blocks nothing: each document draws a name of its own.
    std::filesystem::create_directory(out.file(".mbus_5.tmp"));
    EXPECT_EQ(write_ack_answer(files, 5, "Unknown", "NO"), 0);
    EXPECT_EQ(result(5), "{\"ack_response\":\"Unknown\",\"primAdr\":\"NO\"}");
}

TEST_F(results_test, abort_file_removes_itself_and_the_result_file)
{
    EXPECT_FALSE(check_abort_file(files, 5));
    testing::write_file(out.file("mbus_5"), "x");
    EXPECT_FALSE(check_abort_file(files, 5));
    EXPECT_EQ(names(), std::set<std::string>{"mbus_5"});

    testing::write_file(out.file("abort"), "");
    EXPECT_TRUE(check_abort_file(files, 5));
    EXPECT_TRUE(names().empty());

    std::filesystem::create_directory(out.file("abort"));  // a file of any kind
    EXPECT_TRUE(check_abort_file(files, 7));
    EXPECT_TRUE(names().empty());
}

// Every writer facing an output directory that is not there.
struct failing_write {
    const char* failure;  // with the path in place of %s
    const char* file;
    int (*write)(result_files&);
};

const failing_write failing_writes[] = {
    {"GET_RAW_DATA: could not write file %s", "mbus_create", [](result_files& f) {
         const int rc = write_raw_file(f, 3, {}, raw_phase::open);
         write_raw_file(f, 3, {}, raw_phase::telegram);
         write_raw_file(f, 3, {}, raw_phase::close);
         return rc;
     }},
    {"GET_STRUCT_DATA: could not write file %s", "mbus_create", [](result_files& f) {
         decode::struct_record r;
         r.tel = r.rec = r.record_count = 1;
         return write_struct_file(f, 3, {}, r);
     }},
    {"GET_DATA: could not write file %s", "mbus_create", [](result_files& f) {
         decode::decoded_record r;
         r.tel = r.rec = r.record_count = 1;
         return write_data_file(f, 3, {}, r);
     }},
    {"SLAVE_SEARCH: could not write file %s", "mbus_3", [](result_files& f) {
         search_progress p;
         write_slaves_file(f, 3, p);
         p.phase = list_phase::entry;
         p.secondary.assign("12345678-AAA-1-7");
         return write_slaves_file(f, 3, p);
     }},
    {"SLAVE_SEARCH: could not write end of file %s", "mbus_3", [](result_files& f) {
         search_progress p;
         write_slaves_file(f, 3, p);
         p.phase = list_phase::end;
         return write_slaves_file(f, 3, p);
     }},
    {"ANSWER_ACK: could not write file %s", "mbus_3", [](result_files& f) { return write_ack_answer(f, 3, "OK", "3"); }},
    {"ANSWER_MSG: could not write file %s", "mbus_3", [](result_files& f) { return write_message_answer(f, 3, "No Answer"); }},
};

TEST_F(results_test, missing_output_directory_is_logged_whatever_the_trace)
{
    const std::string missing = out.file("missing");
    files.directory.assign(missing);
    for (const failing_write& w : failing_writes) {
        for (int on : {0, 1}) {
            trace::control = on;
            std::filesystem::remove(logs.file("mbusLogDev"));
            std::filesystem::remove(logs.file("mbusLog"));
            ::testing::internal::CaptureStdout();
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(w.write(files), -1) << w.failure;
            const std::string err = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
            EXPECT_TRUE(names().empty());

            char message[512];
            std::snprintf(message, sizeof message, w.failure, (missing + "/" + w.file).c_str());
            EXPECT_EQ(err, on ? std::string(message) + ": No such file or directory\n" : "");
            for (const char* name : {"mbusLogDev", "mbusLog"}) {
                const std::string entries = testing::read_file(logs.file(name));
                EXPECT_EQ(std::count(entries.begin(), entries.end(), '\n'), 1) << name;
                EXPECT_NE(entries.find(std::string(" | ") + message + ": No such file or directory [mbus_control / "),
                          std::string::npos) << entries;
            }
        }
    }
}

} // namespace
} // namespace velkor::results
