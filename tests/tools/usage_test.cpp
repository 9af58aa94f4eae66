// Every program answers --help and --version without doing anything else.

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/test_support.h"
#include "velkor_version.h"

namespace velkor::testing {
namespace {

TEST(every_program, answers_help_and_version_on_stdout_with_status_0)
{
    for (const std::string name : {"velkor", "velkor-cmd", "velkor-decode", "velkor-sim", "velkor-poll"}) {
        // The daemon must not start: without a configuration it would end with status 1.
        process help = process::start({built_program(name), "--help"});
        std::string out, err;
        EXPECT_EQ(0, help.finish(out, err)) << name;
        EXPECT_EQ(0u, out.find("usage: " + name + " ")) << name << ": " << out;
        EXPECT_EQ("", err) << name;

        process version = process::start({built_program(name), "--version"});
        out.clear();
        EXPECT_EQ(0, version.finish(out, err)) << name;
        EXPECT_EQ(name + " " VELKOR_VERSION "\n", out);
    }
}

} // namespace
} // namespace velkor::testing
