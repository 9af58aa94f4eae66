#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/config_file.h"
#include "support/test_support.h"

namespace velkor {

namespace {

using pairs = std::vector<std::pair<std::string, std::string>>;

pairs tokens_of(const std::string& content)
{
    testing::temp_dir dir;
    testing::write_file(dir.file("c"), content);
    pairs out;
    EXPECT_EQ(0, log::for_each_config_token(dir.file("c").c_str(), [&](std::string_view k, std::string_view v) {
        out.emplace_back(std::string(k), std::string(v));
    }));
    return out;
}

} // namespace

TEST(ConfigTokens, Syntax)
{
    struct row {
        std::string content;
        pairs expected;
    };
    const std::vector<row> rows = {
        {"path_input=/tmp/f #comment\n", {{"path_input", "/tmp/f"}}},
        {"a=1 b=2\n", {{"a", "1"}, {"b", "2"}}},
        {"a=1\tb=2\r\n", {{"a", "1"}, {"b", "2"}}},
        {"path_output=/x=y\n", {{"path_output", "/x=y"}}},
        {"#a=1\n   # b=2\n", {}},
        {"a=1#b=2\n", {{"a", "1"}}},
        {"novalue a= =v\n", {{"a", ""}, {"", "v"}}},
        {"a=1\nb=2", {{"a", "1"}, {"b", "2"}}},
    };
    for (const row& r : rows)
        EXPECT_EQ(r.expected, tokens_of(r.content)) << r.content;
}

TEST(ConfigTokens, OverLongLinesStayOneLine)
{
    const std::string wide(10000, 'x');
    const std::vector<std::pair<std::string, pairs>> rows = {
        {"# " + wide + " path_output=/elsewhere\npath_output=/here\n", {{"path_output", "/here"}}},
        {"a=1" + std::string(9995, ' ') + "bb=2\n", {{"a", "1"}, {"bb", "2"}}},
        {"a=" + wide + " b=2", {{"a", std::string(1022, 'x')}, {"b", "2"}}},
    };
    for (const auto& [content, expected] : rows)
        EXPECT_EQ(expected, tokens_of(content)) << content.substr(0, 20);
}

TEST(ConfigTokens, MissingFile)
{
    EXPECT_EQ(-1, log::for_each_config_token("/nonexistent/velkor.conf", [](std::string_view, std::string_view) {}));
}

TEST(ConfigInt, ReadsLikeAtoi)
{
    struct row {
        const char* in;
        int out;
    };
    for (const row& r : {row{"12", 12}, row{"  -7x", -7}, row{"+3", 3}, row{"abc", 0}, row{"", 0}, row{"12abc", 12},
                         row{"99999999999", 2147483647}, row{"-99999999999", -2147483647 - 1}})
        EXPECT_EQ(r.out, log::config_int(r.in)) << r.in;
}

} // namespace velkor
