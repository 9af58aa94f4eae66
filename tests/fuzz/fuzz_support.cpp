#include "fuzz_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "../../tools/velkor-cmd/result_check.h"

namespace velkor::fuzz {

const std::string& scratch_dir()
{
    static const std::string dir = [] {
        // In memory where the system has a place for it: a search input
        // rewrites its result file at every probe, and a disk file system
        // makes each replacement wait for the data of the one before.
        std::string path = ::access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
        path += "/velkor-fuzz-XXXXXX";
        if (!::mkdtemp(path.data()))
            fail("cannot create a scratch folder");
        if (::chdir(path.c_str()) != 0)
            fail("cannot enter the scratch folder");
        // Kept apart from the string, which is gone by the time this runs.
        static char made[64];
        std::snprintf(made, sizeof made, "%s", path.c_str());
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(made, ignored);
        });
        return path;
    }();
    return dir;
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, std::string_view content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(content.data(), static_cast<std::streamsize>(content.size()));
}

void require_json_file(const std::string& path)
{
    std::ifstream probe(path);
    if (!probe)
        return;
    const std::string document = read_file(path);
    if (!cmd::valid_json(document))
        fail("document is not valid JSON with valid UTF-8", document);
}

} // namespace velkor::fuzz
