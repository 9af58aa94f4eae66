#pragma once
// The 332-byte command a client writes into the FIFO. Integers are signed
// 32-bit in host byte order; text fields are zero-terminated within their
// field when they are shorter than it.

#include <array>
#include <cstddef>
#include <cstdint>

namespace velkor::control {

struct command_record {
    std::array<char, 256> bus{};    // the configured line or a file path: link/line_choice.h
    std::int32_t id = 0;            // result file "mbus_<id>"; 0: none
    std::int32_t br = 0;            // baud rate
    std::array<char, 32> secAdr{};  // secondary address text
    std::array<char, 32> cmd{};     // command name (SETSECADR_..., FILE...)
    std::int32_t param = 0;
};

static_assert(sizeof(command_record) == 332);
static_assert(offsetof(command_record, id) == 256);
static_assert(offsetof(command_record, br) == 260);
static_assert(offsetof(command_record, secAdr) == 264);
static_assert(offsetof(command_record, cmd) == 296);
static_assert(offsetof(command_record, param) == 328);

} // namespace velkor::control
