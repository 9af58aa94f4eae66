// line_io over the file transport: a command whose bus name is a path writes
// its request over the start of that file, and the answer is what the file
// then holds, read once. Nothing is waited for and nothing arrives late: a
// file read since its last write reads as a quiet line.

#include "link/transceiver.h"
#include "port/file_transport.h"

namespace velkor::link {

// A file that cannot be written is no lost line: the exchange finds no answer.
int file_line::write(std::span<const std::uint8_t> bytes)
{
    answer_due = true;
    const int n = port::file_transport_write(path, bytes);
    return n < 0 ? 0 : n;
}

// A file that cannot be read is no answer.
int file_line::read(std::span<std::uint8_t> buffer)
{
    if (!answer_due)
        return 0;
    answer_due = false;
    const int n = port::file_transport_read(path, buffer);
    return n < 0 ? 0 : n;
}

} // namespace velkor::link
