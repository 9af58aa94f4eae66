#include <ctime>
#include <filesystem>
#include <vector>

#include "results/results_fixture.h"

namespace velkor::results {
namespace {

using testing::bytes;

std::size_t open_descriptors()
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST_F(results_test, raw_file_of_one_and_of_two_telegrams)
{
    const bytes first = testing::hex("68 0A 16");
    const bytes second = testing::hex("E5");

    write_raw_file(files, 4, {}, raw_phase::open);
    write_raw_file(files, 4, first, raw_phase::telegram);
    EXPECT_EQ(write_raw_file(files, 4, {}, raw_phase::close), 0);
    EXPECT_EQ(result(4), "{\"telegrams\":\n[\"68 0A 16 \"\n\n]}");

    write_raw_file(files, 4, {}, raw_phase::open);
    write_raw_file(files, 4, first, raw_phase::telegram);
    write_raw_file(files, 4, second, raw_phase::telegram);
    trace::control = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(write_raw_file(files, 4, {}, raw_phase::close), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "GET_RAW_DATA: File " + out.file("mbus_4") + " is written\n");
    EXPECT_EQ(result(4), "{\"telegrams\":\n[\"68 0A 16 \"\n,\"E5 \"\n\n]}");
    // The temporary file stays after publishing; nothing hidden is left.
    EXPECT_EQ(names(), (std::set<std::string>{"mbus_4", "mbus_create"}));
}

TEST_F(results_test, struct_document_of_two_telegrams)
{
    decode::struct_header_texts header;
    header.primary.assign("05");
    header.secondary.assign("78 56 34 12 21 04 01 07 ");
    header.access.assign("2a");
    header.status.assign("00");
    for (int tel = 1; tel <= 2; ++tel) {
        for (int rec = 1; rec <= 2; ++rec) {
            decode::struct_record r;
            r.tel = tel;
            r.more_follows = tel == 1;
            r.rec = rec;
            r.record_count = 2;
            r.dif.assign("04 ");
            r.vif.format("%02X ", 0x10 + rec);
            r.data.format("%02X 00 ", tel);
            EXPECT_EQ(write_struct_file(files, 8, header, r), 0);
        }
    }
    EXPECT_EQ(result(8),
              "{\n"
              "\t\"prim_adr\":\"05\",\n\t\"sec_adr\":\"78 56 34 12 21 04 01 07 \",\n\t\"access\":\"2a\",\n\t\"status\":\"00\",\n"
              "\t\"records\":\n\t[\n"
              "\t\t[\n"
              "\t\t\t{\"tel\":\"1\", \"rec\":\"1\", \"dif\":\"04 \",\"vif\":\"11 \", \"data\":\"01 00 \"},\n"
              "\t\t\t{\"tel\":\"1\", \"rec\":\"2\", \"dif\":\"04 \",\"vif\":\"12 \", \"data\":\"01 00 \"}"
              "\n\t\t],\n"
              "\t\t[\n"
              "\t\t\t{\"tel\":\"2\", \"rec\":\"1\", \"dif\":\"04 \",\"vif\":\"11 \", \"data\":\"02 00 \"},\n"
              "\t\t\t{\"tel\":\"2\", \"rec\":\"2\", \"dif\":\"04 \",\"vif\":\"12 \", \"data\":\"02 00 \"}"
              "\n\t\t]\n"
              "\t]\n}");
}

TEST_F(results_test, data_document_of_two_telegrams_with_escaped_texts)
{
    decode::header_texts header;
    header.secondary.assign("12345678-AAA-1-7");
    header.access.assign("42");
    header.status.assign("no error  ");
    const char* values[2][2] = {{"12.5", "say \"hi\""}, {"a\\b", "\x01\xB0"}};
    for (int tel = 1; tel <= 2; ++tel) {
        for (int rec = 1; rec <= 2; ++rec) {
            decode::decoded_record r;
            r.tel = tel;
            r.more_follows = tel == 1;
            r.rec = rec;
            r.record_count = 2;
            r.descriptor.assign("Flow temperature");
            r.value.assign(values[tel - 1][rec - 1]);
            r.unit.assign("\xC2\xB0" "C");
            r.extended.assign("");
            EXPECT_EQ(write_data_file(files, 9, header, r), 0);
        }
    }
    std::tm local{};
    const std::time_t wall = clock.wall_time();
    localtime_r(&wall, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%d.%m.%y %H:%M:%S", &local);

    auto record = [](int tel, int rec, const std::string& value) {
        return "\t\t\t{\"tel\":\"" + std::to_string(tel) + "\", \"rec\":\"" + std::to_string(rec) +
               "\", \"descriptor\":\"Flow temperature\",\"value\":\"" + value +
               "\", \"unit\":\"\xC2\xB0" "C\", \"extended\":\"\"}";
    };
    EXPECT_EQ(result(9), std::string("{\n\t\"timestamp\":\"") + stamp +
                             "\",\n\t\"mbus_id\":\"12345678-AAA-1-7\",\n\t\"access\":\"42\",\n\t\"status\":\"no error  \",\n"
                             "\t\"records\":\n\t[\n"
                             "\t\t[\n" + record(1, 1, "12.5") + ",\n" + record(1, 2, "say \\\"hi\\\"") + "\n\t\t],\n" +
                             "\t\t[\n" + record(2, 1, "a\\\\b") + ",\n" + record(2, 2, "\\u0001\\u00B0") + "\n\t\t]\n" +
                             "\t]\n}");
}

TEST_F(results_test, readout_that_stopped_early_neither_leaks_nor_publishes)
{
    decode::struct_header_texts header;
    decode::struct_record r;
    r.tel = 1;
    r.rec = 1;
    r.record_count = 3;
    testing::write_file(out.file("mbus_2"), "{\"data_response\":\"No Answer\"}");

    const std::size_t before = open_descriptors();
    write_struct_file(files, 2, header, r);  // stops after its first record
    write_struct_file(files, 2, header, r);  // a second readout that stops early too
    EXPECT_EQ(open_descriptors(), before + 1);
    EXPECT_EQ(result(2), "{\"data_response\":\"No Answer\"}");
    write_raw_file(files, 2, {}, raw_phase::open);
    write_raw_file(files, 2, {}, raw_phase::close);
    EXPECT_EQ(open_descriptors(), before);
    EXPECT_EQ(result(2), "{\"telegrams\":\n[\n]}");
}

TEST_F(results_test, document_that_did_not_reach_the_disk_is_not_published)
{
    // Never written through a link, and no earlier answer stays in its place.
    std::filesystem::create_symlink("/dev/full", out.file("mbus_create"));
    testing::write_file(out.file("mbus_6"), "{\"data_response\":\"Telegram 1, Receive More\"}");
    write_raw_file(files, 6, {}, raw_phase::open);
    write_raw_file(files, 6, testing::hex("68 0A 16"), raw_phase::telegram);
    EXPECT_EQ(write_raw_file(files, 6, {}, raw_phase::close), -1);
    EXPECT_FALSE(std::filesystem::exists(out.file("mbus_6")));
}

TEST_F(results_test, whole_document_is_published_up_to_a_zero_byte)
{
    std::string big;
    for (int i = 0; big.size() < 40000; ++i)
        big += "\t\t\t{\"tel\":\"1\", \"rec\":\"" + std::to_string(i) + "\"},\n";
    testing::write_file(out.file("mbus_create"), big);
    EXPECT_EQ(publish_result(out.file("mbus_create").c_str(), out.file("mbus_1").c_str()), 0);
    EXPECT_EQ(result(1), big);

    testing::write_file(out.file("mbus_create"), big + std::string(1, '\0') + "after");
    EXPECT_EQ(publish_result(out.file("mbus_create").c_str(), out.file("mbus_1").c_str()), 0);
    EXPECT_EQ(result(1), big);

    EXPECT_EQ(publish_result(out.file("missing").c_str(), out.file("mbus_1").c_str()), -1);
    EXPECT_EQ(result(1), big);
    EXPECT_EQ(names(), (std::set<std::string>{"mbus_1", "mbus_create"}));
}

} // namespace
} // namespace velkor::results
