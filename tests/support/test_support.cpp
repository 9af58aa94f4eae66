#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velkor::testing {

temp_dir::temp_dir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velkor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path = pattern;
}

temp_dir::~temp_dir()
{
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string built_program(const std::string& name)
{
    for (const char* dir : {"/", "/tools/"}) {
        std::string p = std::string(VELKOR_BINARY_DIR) + dir + name;
        if (std::filesystem::exists(p))
            return p;
    }
    return std::string(VELKOR_BINARY_DIR) + "/" + name;
}

} // namespace velkor::testing
