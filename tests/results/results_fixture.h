#pragma once
// An output directory, a log directory and a virtual clock for the writers.

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/trace.h"
#include "results/result_files.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor::results {

struct results_test : ::testing::Test {
    testing::temp_dir out;
    testing::temp_dir logs;
    testing::fake_clock clock;
    log::log_settings log;
    result_files files;

    results_test()
    {
        trace::control = 0;
        files.directory.assign(out.path);
        log.directory.assign(logs.path);
        log.size = log.size_dev = 1 << 20;  // no rotation: every entry stays
        files.log = &log;
        files.clock = &clock;
    }

    ~results_test() override
    {
        trace::control = 0;
        doc_discard(files.temp);
    }

    std::string result(int id) const { return testing::read_file(out.file("mbus_" + std::to_string(id))); }

    // Every name in the output directory, hidden ones included.
    std::set<std::string> names() const
    {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(out.path))
            found.insert(entry.path().filename().string());
        return found;
    }
};

} // namespace velkor::results
