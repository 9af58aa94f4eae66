#include "results/result_files.h"

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "log/convert.h"
#include "log/trace.h"
#include "results/document_io.h"

namespace velkor::results {

bool form_path(path_text& out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(out.chars.data(), out.chars.size(), format, args);
    va_end(args);
    if (n < 0 || static_cast<std::size_t>(n) > out.capacity()) {
        out.clear();
        errno = ENAMETOOLONG;
        return false;
    }
    out.length = static_cast<std::size_t>(n);
    return true;
}

bool result_path(const result_files& files, int id, path_text& out)
{
    return form_path(out, "%s/mbus_%d", files.directory.c_str(), id);
}

bool temp_path(const result_files& files, path_text& out)
{
    return form_path(out, "%s/mbus_create", files.directory.c_str());
}

bool hidden_path(const char* path, path_text& out)
{
    const char* slash = std::strrchr(path, '/');
    const char* name = slash ? slash + 1 : path;
    const int dir_length = static_cast<int>(name - path);
    return form_path(out, "%.*s.%s.tmp", dir_length, path, name);
}

std::FILE* open_for_writing(const char* path, int tries, velkor::clock* wait)
{
    for (int attempt = 0; attempt < tries; ++attempt) {
        if (std::FILE* file = std::fopen(path, "w"))
            return file;
        if (wait) {
            const int error = errno;
            wait->sleep_ms(retry_wait_ms);
            errno = error;
        }
    }
    return nullptr;
}

int finish_hidden(std::FILE* file, const char* hidden, const char* path)
{
    bool complete = std::ferror(file) == 0;
    int error = errno;
    if (std::fclose(file) != 0 && complete) {
        complete = false;
        error = errno;
    }
    if (complete && std::rename(hidden, path) == 0)
        return 0;
    if (complete)
        error = errno;
    std::remove(hidden);
    errno = error;
    return -1;
}

void report_failure(const result_files& files, int line, const char* format, const char* path)
{
    if (!trace::control)
        return;
    const int error = errno;
    text<512> message;
    message.format(format, path);
    std::fprintf(stderr, "%s: %s\n", message.c_str(), std::strerror(error));
    if (files.log)
        log::log_write(*files.log, "mbus_control", line, 1, message.view());
}

void trace_written(const char* format, const char* path)
{
    if (trace::control)
        std::printf(format, path);
}

velkor::clock& wait_clock(const result_files& files) { return files.clock ? *files.clock : system_clock(); }

int publish_result(const char* temp_path, const char* result_path)
{
    std::FILE* in = std::fopen(temp_path, "rb");
    if (!in)
        return -1;
    // The document ends at the file's end or at its first zero byte.
    const int rc = replace_document(result_path, 1, nullptr, [in](std::FILE* out) {
        std::array<char, 4096> chunk;
        for (;;) {
            const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), in);
            const void* zero = std::memchr(chunk.data(), '\0', n);
            const std::size_t keep = zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - chunk.data()) : n;
            if (keep > 0 && std::fwrite(chunk.data(), 1, keep, out) != keep)
                return false;
            if (zero || n < chunk.size())
                return std::ferror(in) == 0;
        }
    });
    std::fclose(in);
    return rc;
}

int check_abort_file(result_files& files, int id)
{
    path_text abort;
    if (!form_path(abort, "%s/abort", files.directory.c_str()) || !conv::file_exists(abort.c_str()))
        return 0;
    std::remove(abort.c_str());
    path_text result;
    if (result_path(files, id, result))
        std::remove(result.c_str());
    return 1;
}

} // namespace velkor::results
