#pragma once
// Helpers shared by the test programs.

#include <string>

namespace velkor::testing {

// A fresh, empty folder for one test; removed with its content on destruction.
struct temp_dir {
    std::string path;
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);

// Path of a program built beside the tests ("velkor", "velkor-sim", ...).
std::string built_program(const std::string& name);

} // namespace velkor::testing
