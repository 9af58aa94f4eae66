// velkor-sim's bus file: any text is either a bus of meters or an error with
// a line number inside the text.

#include <algorithm>

#include "fuzz_support.h"
#include "model/bus_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    velkor::sim::meter_bus bus;
    velkor::sim::parse_error error;
    if (!velkor::sim::parse_bus_text(text, bus, error)) {
        const long lines = 1 + std::count(text.begin(), text.end(), '\n');
        if (error.line < 0 || error.line > lines || error.message.empty())
            velkor::fuzz::fail("error without a line of the file", velkor::sim::describe(error));
    }
    return 0;
}
