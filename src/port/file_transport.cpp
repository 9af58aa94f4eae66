#include "port/file_transport.h"

// Placeholder until the file transport lands.
namespace velkor::port {
void set_fileio_trace(int) {}
int file_transport_write(const char*, std::span<const std::uint8_t>) { return -1; }
int file_transport_read(const char*, std::span<std::uint8_t>) { return -1; }
} // namespace velkor::port
