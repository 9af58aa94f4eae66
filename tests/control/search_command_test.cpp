// SLAVE_SEARCH over the simulator's meters, in-process and on virtual time.

#include "control/daemon_fixture.h"
#include "control/notify_socket.h"
#include "support/meter_line.h"

namespace velkor::testing {

namespace {

// A line that drops an abort file into the output folder after n exchanges.
struct aborting_line final : link::bus_line {
    link::bus_line& inner;
    std::string abort_path;
    int left;
    aborting_line(link::bus_line& l, std::string path, int n) : inner(l), abort_path(std::move(path)), left(n) {}
    void transceive(link::bus_context& bus) override
    {
        inner.transceive(bus);
        if (--left == 0)
            write_file(abort_path, "");
    }
};

// A line lost at the nth exchange, as the transceiver reports it.
struct losing_line final : link::bus_line {
    link::bus_line& inner;
    int left;
    losing_line(link::bus_line& l, int n) : inner(l), left(n) {}
    void transceive(link::bus_context& bus) override { --left > 0 ? inner.transceive(bus) : bus.clear_receive(); }
    bool line_failed() const override { return left <= 0; }
};

struct search_command : daemon_fixture {
    meter_line meters = meter_line_from(read_file(std::string(VELKOR_SOURCE_DIR) + "/tools/velkor-sim/examples/demo.bus"));
    search_command() { d.line = &meters; }
};

const strings found = {"SLAVE_SEARCH: found 30512047-VLK-2-4   1", "SLAVE_SEARCH: found 52004731-VLK-1-7   2",
                       "SLAVE_SEARCH: found 71230964-VLK-3-2   3"};

} // namespace

TEST_F(search_command, FindsEveryMeterAndEndsTheList)
{
    notify_socket systemd(dir.file("notify"));
    control::notifier_open(d.notifier, systemd.name.c_str());
    run("SLAVE_SEARCH", 5);
    for (const char* found_so_far : {"0", "1", "2", "3"})
        EXPECT_EQ(std::string("STATUS=SLAVE_SEARCH running, ") + found_so_far + " found", systemd.next(1000));
    control::notifier_close(d.notifier);
    strings expected{"SLAVE_SEARCH: started"};
    expected.insert(expected.end(), found.begin(), found.end());
    expected.push_back("SLAVE_SEARCH: finished");
    EXPECT_EQ(expected, main_log());
    EXPECT_EQ("{\n\t\"slaves\":\n\t[\n"
              "\t\t{\"cnt\":\"1\", \"sec_address\":\"30512047-VLK-2-4\", \"prim_address\":\"1\"},\n"
              "\t\t{\"cnt\":\"2\", \"sec_address\":\"52004731-VLK-1-7\", \"prim_address\":\"2\"},\n"
              "\t\t{\"cnt\":\"3\", \"sec_address\":\"71230964-VLK-3-2\", \"prim_address\":\"3\"}\n"
              "\t],\n\t\"progress\":\"9F FF FF FF FF FF FF FF\",\n\t\"state\":\"end\"\n}",
              result(5));
}

TEST_F(search_command, WithoutIdOnlyLogs)
{
    run("SLAVE_SEARCH", 0);
    EXPECT_EQ(5u, main_log().size());
    EXPECT_FALSE(has_result(0));
}

TEST_F(search_command, AbortFileStopsTheSearchAfterTheCurrentStep)
{
    aborting_line line(meters, dir.file("out/abort"), 4);
    d.line = &line;
    write_file(dir.file("out/abort"), "");  // left from before: removed at the start
    run("SLAVE_SEARCH", 5);
    EXPECT_FALSE(has_result(5));
    EXPECT_FALSE(std::ifstream(dir.file("out/abort")).good());
    EXPECT_EQ("SLAVE_SEARCH: started", main_log().front());
    EXPECT_NE("SLAVE_SEARCH: finished", main_log().back());
    EXPECT_LT(meters.seen.size(), 10u);
}

TEST_F(search_command, MetersSharingAnAddressDoNotHideTheRest)
{
    // Two meters with one secondary address collide down to the last
    // position; the search goes on and still finds the meter after them.
    const std::string twin = "68 0F 0F 68 08 05 72 78 56 34 12 21 04 01 07 01 00 00 00 C1 16\n";
    meters = meter_line_from("meter a\n" + twin + "meter b\n" + twin +
                             "meter c\n68 0F 0F 68 08 06 72 21 43 65 87 21 04 01 07 01 00 00 00 FE 16\n");
    run("SLAVE_SEARCH", 5);
    EXPECT_EQ("SLAVE_SEARCH: found 87654321-AAA-1-7   6", main_log()[1]);
    EXPECT_EQ("SLAVE_SEARCH: finished", main_log().back());
    EXPECT_NE(std::string::npos, result(5).find("\"state\":\"end\""));
}

TEST_F(search_command, LostLineOrProbeLimitEndsTheListIncomplete)
{
    losing_line losing(meters, 6);
    bus.responder = [](std::span<const std::uint8_t>) { return hex("00 E5"); };  // noise: every probe collides
    const struct {
        link::bus_line* line;
        const char* ended;
        std::size_t listed;
    } rows[] = {
        {&losing, "SLAVE_SEARCH: incomplete, the line was lost", 1},
        {&bus, "SLAVE_SEARCH: incomplete, search_max_probes (50) reached", 0},
    };
    d.config.search_max_probes = 50;
    for (const auto& r : rows) {
        d.line = r.line;
        run("SLAVE_SEARCH", 5);
        EXPECT_EQ(r.ended, main_log().back());
        const std::string list = result(5);
        EXPECT_NE(std::string::npos, list.find("\t\"state\":\"incomplete\"\n}")) << list;
        EXPECT_EQ(r.listed + 1, static_cast<std::size_t>(std::count(list.begin(), list.end(), '{'))) << list;
    }
}

} // namespace velkor::testing
