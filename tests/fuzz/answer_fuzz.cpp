// The received-answer path: long-frame check, header, record walk and every
// rendering, through the three readout documents, each of which must be
// valid JSON with valid UTF-8.
//
// Input: one byte, then the telegram bytes. Bit 0 of the first byte set:
// the bytes are taken as received; clear: they are the user data of a long
// frame whose length, checksum and end byte are made right, so that the
// walk is reached. Bits 1-2: how many telegrams (1 to 3) the user data is cut
// into, as for a readout of several telegrams.

#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/log.h"
#include "control/readout.h"
#include "fuzz_support.h"
#include "link/checks.h"

namespace {

using namespace velkor;

struct fixed_clock final : velkor::clock {
    void sleep_ms(int) override {}
    std::int64_t monotonic_us() override { return 0; }
    std::time_t wall_time() override { return 1765051178; }
};

std::vector<std::uint8_t> framed(const std::uint8_t* data, std::size_t size)
{
    size = std::min<std::size_t>(size, 255);
    std::vector<std::uint8_t> f{0x68, static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size), 0x68};
    std::uint8_t cs = 0;
    for (std::size_t i = 0; i < size; ++i) {
        f.push_back(data[i]);
        cs = static_cast<std::uint8_t>(cs + data[i]);
    }
    f.push_back(cs);
    f.push_back(0x16);
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::string& dir = fuzz::scratch_dir();
    static log::log_settings log;
    static fixed_clock clock;
    const bool raw = data[0] & 1;
    const std::size_t parts = 1 + ((data[0] >> 1) & 3) % 3;
    ++data;
    --size;

    std::vector<std::vector<std::uint8_t>> telegrams;
    const std::size_t piece = raw ? size : (size + parts - 1) / std::max<std::size_t>(parts, 1);
    for (std::size_t at = 0; at < size || telegrams.empty(); at += std::max<std::size_t>(piece, 1)) {
        const std::size_t n = std::min(piece, size - std::min(at, size));
        if (raw)
            telegrams.emplace_back(data + at, data + at + std::min<std::size_t>(n, link::bus_buffer_size));
        else
            telegrams.push_back(framed(data + at, n));
        if (raw || n == 0)
            break;
    }

    results::result_files files;
    files.directory.assign(dir);
    files.log = &log;
    files.clock = &clock;
    // Only answers that pass the check reach the decoder.
    for (const auto& t : telegrams) {
        link::bus_context bus;
        std::copy(t.begin(), t.end(), bus.receive_buffer.begin());
        bus.receive_length = static_cast<std::int32_t>(t.size());
        if (!link::check_long_frame(bus))
            return 0;
    }
    // One readout document at a time, as the daemon writes them.
    auto d = std::make_unique<control::data_telegram>();
    for (std::size_t i = 0; i < telegrams.size(); ++i) {
        const decode::telegram_view view(telegrams[i]);
        text<32> secondary, primary;
        decode::render_secondary_address(view, secondary, primary);
        control::read_data_telegram(view, *d);
        if (i + 1 == telegrams.size())
            d->more = 0;
        control::write_data_telegram(files, 1, view, static_cast<int>(i) + 1, *d);
        if (!d->more)
            break;
    }
    auto s = std::make_unique<control::struct_telegram>();
    for (std::size_t i = 0; i < telegrams.size(); ++i) {
        const decode::telegram_view view(telegrams[i]);
        control::read_struct_telegram(view, *s);
        if (i + 1 == telegrams.size())
            s->more = 0;
        control::write_struct_telegram(files, 2, view, static_cast<int>(i) + 1, *s);
        if (!s->more)
            break;
    }
    results::write_raw_file(files, 3, {}, results::raw_phase::open);
    for (const auto& t : telegrams)
        results::write_raw_file(files, 3, t, results::raw_phase::telegram);
    results::write_raw_file(files, 3, {}, results::raw_phase::close);
    for (const char* name : {"/mbus_1", "/mbus_2", "/mbus_3"}) {
        fuzz::require_json_file(dir + name);
        std::remove((dir + name).c_str());
    }
    return 0;
}
