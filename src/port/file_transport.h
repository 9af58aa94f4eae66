#pragma once
// Frames exchanged through a file path instead of the serial line.

#include <cstdint>
#include <span>

namespace velkor::port {

// Prints "DEBUG_FILEIO" when the value is non-zero.
void set_fileio_trace(int value);

// Writes the bytes over the beginning of an existing file (no create, no
// truncate, no waiting). Returns the number written or -1.
int file_transport_write(const char* path, std::span<const std::uint8_t> bytes);

// One read from the beginning of the file, up to the buffer's size. Returns
// the count (0 for an empty file) or -1.
int file_transport_read(const char* path, std::span<std::uint8_t> buffer);

} // namespace velkor::port
