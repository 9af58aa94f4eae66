// The slaves list: rewritten whole after every entry, so that it is a complete
// document while the search runs; its state line tells "run" from "end".

#include <cerrno>

#include "base/trace.h"
#include "results/document_io.h"
#include "results/json_text.h"
#include "results/result_files.h"

namespace velkor::results {

namespace {

constexpr std::string_view unwritten = "its final document could not be written";

bool in_use(const result_files& files, std::size_t i)
{
    return i < files.slaves.size() && !files.slaves[i].secondary.empty();
}

void add_entry(result_files& files, const search_progress& progress)
{
    if (progress.secondary.empty())
        return;
    for (slave_entry& entry : files.slaves) {
        if (entry.secondary.empty()) {
            entry.secondary.assign(progress.secondary.view());
            entry.primary.assign(progress.primary.view());
            return;
        }
    }
    // A full table keeps its 250 entries; further finds are not listed.
}

bool write_list(doc_file& out, const result_files& files, const search_progress& progress, bool end)
{
    json_print(out, "{\n\t\"slaves\":\n\t[\n");
    for (std::size_t i = 0; in_use(files, i); ++i) {
        const slave_entry& entry = files.slaves[i];
        json_print(out, "\t\t{\"cnt\":\"%d\", \"sec_address\":\"%s\", \"prim_address\":\"%s\"}",
                   static_cast<std::int32_t>(i + 1), entry.secondary, entry.primary);
        if (in_use(files, i + 1))
            json_print(out, ",\n");
        else
            json_print(out, "\n");
    }
    json_print(out, "\t],\n");
    json_print(out, "\t\"progress\":\"%s\",\n", progress.progress);
    json_print(out, "\t\"state\":\"%s\"", !end ? "run" : progress.incomplete ? "incomplete" : "end");
    json_print(out, "\n}");
    return true;
}

// No list without its phase 0.
int rewrite_list(result_files& files, const search_progress& progress, bool end, velkor::clock* wait)
{
    if (files.list_path.empty()) {
        errno = ENOENT;
        return -1;
    }
    return replace_document(files.list_path.c_str(), open_tries, wait,
                            [&](doc_file& out) { return write_list(out, files, progress, end); });
}

} // namespace

int write_slaves_file(result_files& files, int id, const search_progress& progress)
{
    switch (progress.phase) {
    case list_phase::start:
        result_path(files, id, files.list_path);
        for (slave_entry& entry : files.slaves) {
            entry.secondary.clear();
            entry.primary.clear();
        }
        if (!files.list_path.empty())
            std::remove(files.list_path.c_str());
        return 0;

    case list_phase::entry:
        add_entry(files, progress);
        if (rewrite_list(files, progress, false, nullptr) != 0) {
            report_failure(files, __LINE__, "SLAVE_SEARCH: could not write file %s", files.list_path.c_str());
            return -1;
        }
        return 0;

    case list_phase::end:
        break;
    }
    velkor::clock& clock = wait_clock(files);
    clock.sleep_ms(retry_wait_ms);
    if (rewrite_list(files, progress, true, &clock) != 0) {
        report_failure(files, __LINE__, "SLAVE_SEARCH: could not write end of file %s", files.list_path.c_str());
        drop_result(files, id, __LINE__, "SLAVE_SEARCH", unwritten);
        return -1;
    }
    trace_written("SLAVES: all Files %s are written\n", files.list_path.c_str());
    return 0;
}

} // namespace velkor::results
