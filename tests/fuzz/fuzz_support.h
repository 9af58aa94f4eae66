#pragma once
// Shared by the fuzz targets: a scratch folder, file helpers and the strict
// JSON check. A broken expectation aborts, so that libFuzzer and the replay
// program both report it as a crash with the input that caused it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace velkor::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {})
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fwrite(detail.data(), 1, detail.size(), stderr);
    std::abort();
}

// A folder of its own for the whole run, made the working directory, so that
// relative names a target may produce stay inside it.
const std::string& scratch_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, std::string_view content);

// Aborts unless the file holds one JSON value (RFC 8259) with its strings in
// valid UTF-8, as velkor-cmd's strict reader checks it; a missing file passes.
void require_json_file(const std::string& path);

} // namespace velkor::fuzz
