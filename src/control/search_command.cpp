// SLAVE_SEARCH: every slave on the bus, reported while the search runs.

#include <cstdio>

#include "control/command.h"
#include "decode/header.h"
#include "link/search.h"

namespace velkor::control {

namespace {

// What systemd shows of a search that may run for many minutes.
void show_progress(command& c, int found)
{
    text<48> status;
    status.format("SLAVE_SEARCH running, %d found", found);
    notify_status(c.d.notifier, status.view());
}

enum class search_end { finished, line_lost, probe_limit };

} // namespace

void slave_search(command& c)
{
    results::result_files& files = c.d.files;
    results::check_abort_file(files, c.id);  // an abort file left from before goes
    bool start = true;
    bool go_on = true;
    results::search_progress progress;

    c.message.assign("SLAVE_SEARCH: started");
    report(c, __LINE__, 1, log::entry_kind::notice);
    show_progress(c, progress.count);
    if (c.id != 0)
        results::write_slaves_file(files, c.id, progress);

    std::array<std::uint8_t, 8> mask{};
    int probes = 0;
    search_end end = search_end::finished;
    while (go_on) {
        go_on = link::search_step(c.d.search, start, c.d.bus, *c.d.line, *c.d.clock, mask);
        ++probes;
        progress.secondary.clear();
        progress.primary.clear();
        if (c.d.bus.receive_length != 0) {
            ++progress.count;
            decode::render_secondary_address(c.d.bus.received(), progress.secondary, progress.primary);
            c.message.format("SLAVE_SEARCH: found %s   %s", progress.secondary.c_str(), progress.primary.c_str());
            report(c, __LINE__, 1, log::entry_kind::notice);
            show_progress(c, progress.count);
        }
        if (c.id != 0) {
            progress.progress.format("%02X %02X %02X %02X %02X %02X %02X %02X", mask[0], mask[1], mask[2], mask[3],
                                     mask[4], mask[5], mask[6], mask[7]);
            progress.phase = results::list_phase::entry;
            results::write_slaves_file(files, c.id, progress);
            if (results::check_abort_file(files, c.id))
                return;
        }
        // A lost line leaves the rest of the bus unsearched; constant noise
        // would make every probe a collision and the walk endless.
        if (c.d.line->line_failed())
            end = search_end::line_lost;
        else if (go_on && probes >= c.d.config.search_max_probes)
            end = search_end::probe_limit;
        if (end != search_end::finished)
            break;
    }
    progress.incomplete = end != search_end::finished;
    if (c.id != 0) {
        progress.phase = results::list_phase::end;
        results::write_slaves_file(files, c.id, progress);
    }
    if (end == search_end::line_lost)
        c.message.assign("SLAVE_SEARCH: incomplete, the line was lost");
    else if (end == search_end::probe_limit)
        c.message.format("SLAVE_SEARCH: incomplete, search_max_probes (%d) reached", probes);
    else
        c.message.assign("SLAVE_SEARCH: finished");
    report(c, __LINE__, 1, end == search_end::finished ? log::entry_kind::notice : log::entry_kind::failure);
}

} // namespace velkor::control
