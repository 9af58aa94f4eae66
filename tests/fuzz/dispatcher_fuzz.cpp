// The dispatcher with every command family over the scripted bus and virtual
// time; the fuzzer writes the command record and what the bus answers.
//
// Input: the 332-byte record (shorter input is zero-filled), then the answers
// in order, each one length byte and its bytes; once they run out the bus is
// silent. The bus name is kept on the serial line and the result id small;
// a frame-file path stays inside the scratch folder.

#include <cstring>
#include <memory>

#include "control/daemon.h"
#include "control/dispatcher.h"
#include "fuzz_support.h"
#include "support/fake_bus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velkor;
    const std::string& dir = fuzz::scratch_dir();
    static const bool frame_file = (fuzz::write_file(dir + "/frame", "68 03 03 68 53 FE 51 A4 16"), true);
    (void)frame_file;
    control::command_record r;
    std::memcpy(&r, data, std::min(size, sizeof r));
    const std::uint8_t* answers = data + std::min(size, sizeof r);
    std::size_t left = size - std::min(size, sizeof r);

    std::memset(r.bus.data(), 0, r.bus.size());
    std::memcpy(r.bus.data(), "/dev/ttyS0", 10);
    r.id &= 3;
    for (char& c : r.cmd)
        if (c == '/')
            c = '_';

    auto d = std::make_unique<control::daemon_state>();
    d->config.path_output.assign(dir);
    d->config.primary_start = 1;
    d->log.directory.assign(dir);
    d->log.size = d->log.size_dev = 100000;
    testing::scripted_bus bus;
    testing::fake_clock clock;
    bus.responder = [&](std::span<const std::uint8_t>) {
        testing::bytes answer;
        if (left == 0)
            return answer;
        const std::size_t n = std::min<std::size_t>(answers[0], left - 1);
        answer.assign(answers + 1, answers + 1 + n);
        answers += 1 + n;
        left -= 1 + n;
        return answer;
    };
    control::connect_daemon_state(*d, bus, clock);
    control::dispatch_command(*d, r);
    // A readout cut short by a bad telegram keeps its unfinished document
    // open until the next one starts; this daemon ends here.
    if (d->files.temp.fd >= 0)
        results::doc_discard(d->files.temp);
    if (r.id != 0) {
        const std::string result = dir + "/mbus_" + std::to_string(r.id);
        fuzz::require_json_file(result);
        std::remove(result.c_str());
    }
    std::remove((dir + "/abort").c_str());
    return 0;
}
