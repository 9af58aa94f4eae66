// The readers of client-given texts: the secondary address of a selection and
// of SETSECADR_, and the frame file FILE sends (hex text, at most 255
// characters, made a long frame to the slave's address).

#include "base/convert.h"
#include "fuzz_support.h"
#include "link/frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velkor;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The record's field holds 32 characters.
    const std::string_view field = input.substr(0, std::min<std::size_t>(input.size(), 32));

    link::bus_context bus;
    link::build_select(bus, field);
    if (bus.send_length <= 0 || bus.sent().back() != 0x16 ||
        bus.sent()[bus.sent().size() - 2] != link::frame_checksum(bus.sent()))
        fuzz::fail("selection frame is not a sound long frame");
    link::build_set_secondary(bus, field);
    if (bus.send_length <= 0 || bus.sent().back() != 0x16)
        fuzz::fail("SETSECADR frame is not a sound long frame");

    const std::string path = fuzz::scratch_dir() + "/frame";
    fuzz::write_file(path, input);
    text<256> frame_text;
    const int read = conv::read_text_file(path.c_str(), frame_text);
    if (read < 0)
        fuzz::fail("frame file was not read");
    link::bus_context out;
    int count = 0;
    const int parsed = conv::hex_text_to_bytes(out.send_buffer, count, frame_text.view());
    if (count < 0 || static_cast<std::size_t>(count) > out.send_buffer.size())
        fuzz::fail("hex reader counted past its buffer");
    out.send_length = count;
    const std::uint8_t address = size ? data[0] : 0;
    if (read == 0 && parsed == 0 && link::finish_raw_frame(out, address) && out.sent()[5] != address)
        fuzz::fail("frame file was not given the slave's address");
    return 0;
}
