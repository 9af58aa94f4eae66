#include <filesystem>

#include "results/results_fixture.h"

namespace velkor::results {
namespace {

search_progress step(list_phase phase, std::string_view secondary = "", std::string_view primary = "",
                     std::string_view progress = "")
{
    search_progress p;
    p.phase = phase;
    p.secondary.assign(secondary);
    p.primary.assign(primary);
    p.progress.assign(progress);
    return p;
}

std::string entry(int cnt, const std::string& secondary, const std::string& primary)
{
    return "\t\t{\"cnt\":\"" + std::to_string(cnt) + "\", \"sec_address\":\"" + secondary +
           "\", \"prim_address\":\"" + primary + "\"}";
}

TEST_F(results_test, slaves_list_grows_while_the_search_runs)
{
    testing::write_file(out.file("mbus_5"), "old");
    EXPECT_EQ(write_slaves_file(files, 5, step(list_phase::start)), 0);
    EXPECT_TRUE(names().empty());  // the start deletes the old list

    write_slaves_file(files, 5, step(list_phase::entry, "12345678-AAA-1-7", "0", "1F FF FF FF FF FF FF FF"));
    write_slaves_file(files, 5, step(list_phase::entry, "", "", "2F FF FF FF FF FF FF FF"));  // nothing found
    EXPECT_EQ(result(5), "{\n\t\"slaves\":\n\t[\n" + entry(1, "12345678-AAA-1-7", "0") + "\n" +
                             "\t],\n\t\"progress\":\"2F FF FF FF FF FF FF FF\",\n\t\"state\":\"run\"\n}");

    write_slaves_file(files, 5, step(list_phase::entry, "9\"9-BBB-2-4", "12", "3F FF FF FF FF FF FF FF"));
    EXPECT_EQ(write_slaves_file(files, 5, step(list_phase::end, "", "", "9F FF FF FF FF FF FF FF")), 0);
    EXPECT_EQ(result(5), "{\n\t\"slaves\":\n\t[\n" + entry(1, "12345678-AAA-1-7", "0") + ",\n" +
                             entry(2, "9\\\"9-BBB-2-4", "12") + "\n" +
                             "\t],\n\t\"progress\":\"9F FF FF FF FF FF FF FF\",\n\t\"state\":\"end\"\n}");
    EXPECT_EQ(clock.taken(), std::vector<int>{100});
    EXPECT_EQ(names(), std::set<std::string>{"mbus_5"});

    // A new list forgets the old table.
    write_slaves_file(files, 6, step(list_phase::start));
    write_slaves_file(files, 6, step(list_phase::end));
    EXPECT_EQ(result(6), "{\n\t\"slaves\":\n\t[\n\t],\n\t\"progress\":\"\",\n\t\"state\":\"end\"\n}");
}

TEST_F(results_test, end_of_list_retries_with_waits)
{
    files.directory.assign(out.file("missing"));  // fails every try
    write_slaves_file(files, 5, step(list_phase::start));
    EXPECT_EQ(write_slaves_file(files, 5, step(list_phase::end)), -1);
    EXPECT_EQ(clock.taken(), (std::vector<int>{100, 100, 100, 100, 100, 100}));
}

TEST_F(results_test, full_slaves_table_lists_250_entries)
{
    write_slaves_file(files, 2, step(list_phase::start));
    for (int i = 1; i <= 252; ++i)
        EXPECT_EQ(write_slaves_file(files, 2, step(list_phase::entry, std::to_string(i), std::to_string(i % 250))), 0);
    write_slaves_file(files, 2, step(list_phase::end));
    const std::string list = result(2);
    EXPECT_NE(list.find(entry(249, "249", "249") + ",\n" + entry(250, "250", "0") + "\n\t],\n"), std::string::npos);
    EXPECT_EQ(list.find("\"251\""), std::string::npos);
}

TEST_F(results_test, results_left_in_a_progress_state_go_at_start)
{
    write_slaves_file(files, 3, step(list_phase::start));
    write_slaves_file(files, 3, step(list_phase::entry, "12345678-AAA-1-7", "0"));  // a search killed while it ran
    write_message_answer(files, -4, "Telegram 2, Receive More");
    write_slaves_file(files, 5, step(list_phase::start));
    search_progress lost = step(list_phase::end);
    lost.incomplete = true;
    write_slaves_file(files, 5, lost);
    write_message_answer(files, 6, "No Answer");
    testing::write_file(out.file("mbus_07"), "{\"data_response\":\"Telegram 1, Receive More\"}");  // not the daemon's
    EXPECT_EQ(2, remove_unfinished_results(files));
    EXPECT_EQ(names(), (std::set<std::string>{"mbus_5", "mbus_6", "mbus_07"}));
    EXPECT_NE(result(5).find("\t\"state\":\"incomplete\"\n}"), std::string::npos);
    const std::string log_text = testing::read_file(logs.file("mbusLog"));
    for (const char* name : {"/mbus_3", "/mbus_-4"})
        EXPECT_NE(log_text.find("velkor: result file " + out.path + name + " removed, an earlier run left it unfinished"),
                  std::string::npos)
            << log_text;
}

} // namespace
} // namespace velkor::results
