// The configuration file, as both of its readers take it: the controller's
// settings (with every trace switch) and the log's keys.

#include "base/log.h"
#include "base/trace.h"
#include "control/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = velkor::fuzz::scratch_dir() + "/mbus.conf";
    velkor::fuzz::write_file(path, std::string_view(reinterpret_cast<const char*>(data), size));
    velkor::control::settings s;
    velkor::log::log_settings log;
    if (velkor::control::read_configuration(path.c_str(), s) != 0 ||
        velkor::log::read_log_configuration(path.c_str(), log) != 0)
        velkor::fuzz::fail("an existing configuration file was not read");
    // Every text setting stays within its capacity and terminated.
    for (const auto* t : {&s.path_output, &s.path_input, &s.serial_port_name, &log.directory})
        if (t->size() > t->capacity() || t->c_str()[t->size()] != '\0')
            velkor::fuzz::fail("setting overran its text");
    namespace trace = velkor::trace;
    trace::fifo = trace::control = trace::encode = trace::decode = trace::transceiver = trace::serial =
        trace::fileio = trace::logging = 0;
    return 0;
}
