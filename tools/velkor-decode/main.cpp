// velkor-decode: the document GET_DATA (or GET_STRUCT_DATA) would write for
// telegrams at hand instead of on a bus — captured with GET_RAW_DATA, copied
// from a log, sent by a customer. One telegram per line as hex, with or
// without the quotes and commas of a GET_RAW_DATA document.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "common/document_table.h"
#include "control/readout.h"
#include "link/checks.h"
#include "velkor_version.h"

namespace {

using namespace velkor;

struct telegram {
    int line = 0;
    std::vector<std::uint8_t> bytes;
};

void usage(std::FILE* out)
{
    std::fputs("usage: velkor-decode [--struct] [--table] [FILE]\n"
               "Reads telegrams as hex, one per line (or a GET_RAW_DATA document), from FILE or\n"
               "standard input and prints the document GET_DATA would write for them\n"
               "(GET_STRUCT_DATA with --struct).\n"
               "  --struct   the records as DIF, VIF and data in hex\n"
               "  --table    an aligned text table instead of JSON\n"
               "  --help     this text\n"
               "  --version  the version\n",
               out);
}

// The hex digits of one line, without the JSON around them; false with a
// message when the line holds anything else.
bool parse_line(std::string line, int number, telegram& out, std::string& error)
{
    const std::string key = "\"telegrams\":";
    if (const auto at = line.find(key); at != std::string::npos)
        line.erase(at, key.size());
    std::string digits;
    for (char c : line) {
        if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
        else if (!std::strchr(" \t\r\n\",[]{}", c)) {
            error = "line " + std::to_string(number) + ": '" + std::string(1, c) + "' is not a hexadecimal digit";
            return false;
        }
    }
    out.line = number;
    out.bytes.clear();
    if (digits.size() % 2 != 0) {
        error = "line " + std::to_string(number) + ": odd number of hexadecimal digits";
        return false;
    }
    for (std::size_t i = 0; i < digits.size(); i += 2)
        out.bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return true;
}

// What the long-frame check found wrong, in words.
std::string frame_problems(int errors)
{
    static const struct {
        int bit;
        const char* text;
    } names[] = {
        {link::frame_header, "header (68 L L 68, C field 08, CI field 72)"},
        {link::frame_checksum_wrong, "checksum"},
        {link::frame_end_byte, "end byte (16)"},
        {link::frame_length, "length (L + 6 bytes)"},
    };
    std::string s;
    for (const auto& n : names)
        if (errors & n.bit)
            s += (s.empty() ? "" : ", ") + std::string(n.text);
    return s;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "velkor-decode: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    bool structured = false;
    bool table = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--struct") == 0) {
            structured = true;
        } else if (std::strcmp(argv[i], "--table") == 0) {
            table = true;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::puts("velkor-decode " VELKOR_VERSION);
            return 0;
        } else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            usage(stderr);
            return 2;
        } else if (!path) {
            path = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }

    std::ifstream file;
    if (path) {
        file.open(path);
        if (!file)
            return fail(std::string(path) + ": " + std::strerror(errno));
    }
    std::istream& in = path ? file : std::cin;

    std::vector<telegram> telegrams;
    std::string line;
    std::string error;
    for (int number = 1; std::getline(in, line); ++number) {
        telegram t;
        if (!parse_line(line, number, t, error))
            return fail(error);
        if (t.bytes.empty())
            continue;
        link::bus_context bus;
        if (t.bytes.size() > bus.receive_buffer.size())
            return fail("line " + std::to_string(number) + ": telegram longer than 512 bytes");
        std::copy(t.bytes.begin(), t.bytes.end(), bus.receive_buffer.begin());
        bus.receive_length = static_cast<std::int32_t>(t.bytes.size());
        if (const int errors = link::long_frame_errors(bus))
            return fail("line " + std::to_string(number) + ": invalid telegram: " + frame_problems(errors));
        telegrams.push_back(std::move(t));
    }
    if (telegrams.empty())
        return fail("no telegram in the input");

    // The daemon's own writers build the document in a scratch folder.
    char scratch[] = "/tmp/velkor-decode-XXXXXX";
    if (!::mkdtemp(scratch))
        return fail(std::string("cannot create a scratch folder: ") + std::strerror(errno));
    log::log_settings log;
    results::result_files files;
    files.directory.assign(scratch);
    files.log = &log;
    files.clock = &system_clock();
    constexpr int id = 1;

    auto data = std::make_unique<control::data_telegram>();
    auto hex = std::make_unique<control::struct_telegram>();
    for (std::size_t i = 0; i < telegrams.size(); ++i) {
        const decode::telegram_view view(telegrams[i].bytes);
        const int tel = static_cast<int>(i) + 1;
        const bool last = i + 1 == telegrams.size();
        bool more;
        if (structured) {
            control::read_struct_telegram(view, *hex);
            more = hex->more = !last && hex->more;
            control::write_struct_telegram(files, id, view, tel, *hex);
        } else {
            control::read_data_telegram(view, *data);
            more = data->more = !last && data->more;
            control::write_data_telegram(files, id, view, tel, *data);
        }
        // GET_DATA stops at a telegram that announces no more.
        if (!more && !last) {
            std::fprintf(stderr, "velkor-decode: line %d: telegram %d announces no more telegrams; the lines after it are ignored\n",
                         telegrams[i].line, tel);
            break;
        }
    }

    const std::string result = std::string(scratch) + "/mbus_" + std::to_string(id);
    std::ifstream document(result);
    std::stringstream content;
    content << document.rdbuf();
    std::remove(result.c_str());
    std::remove((std::string(scratch) + "/mbus_create").c_str());
    ::rmdir(scratch);
    if (content.str().empty())
        return fail("could not write the document");
    if (table) {
        std::string text;
        if (!tools::document_table(content.str(), text))
            return fail("the document is not whole JSON");
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    std::fputs(content.str().c_str(), stdout);
    std::fputs("\n", stdout);
    return 0;
}
