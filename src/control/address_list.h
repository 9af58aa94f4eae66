#pragma once
// Secondary addresses (as text) tied to the primary addresses the daemon gave
// them; in memory only, empty after every start. Slot numbers double as the
// primary addresses that SET_PRIMARY_ADDRESS hands out.

#include <array>
#include <cstdint>
#include <string_view>

#include "base/text.h"

namespace velkor::control {

inline constexpr int address_slots = 250;

struct address_slot {
    text<33> name;             // secondary address text, as wide as the command's; empty when free
    std::uint8_t primary = 0;  // 0: free
};

struct address_list {
    std::array<address_slot, address_slots> slots{};
};

// The primary address of the slot holding name, or -1.
int list_lookup(const address_list& list, std::string_view name);
// 0 when name is listed already; else the first free slot from primary_start
// whose number no slave holds by hand gets name and its own number, which is
// returned; -1 when none is free.
int list_assign(address_list& list, std::string_view name, int primary_start);
// As list_assign, with the low byte of address as the primary address.
int list_assign_manual(address_list& list, std::string_view name, int address, int primary_start);
// Whether name may be given the low byte of address by hand: never one of the
// reserved addresses 251..255 (253 selects, 254 tests, 255 broadcasts), nor
// one that another listed slave holds.
bool manual_address_free(const address_list& list, std::string_view name, int address);
// false when no slot holds name.
bool list_remove(address_list& list, std::string_view name);
void list_clear(address_list& list);

// The first slot that may be filled and reported: primary_start, at least 1
// (slot 0 would read as free).
int first_slot(int primary_start);

} // namespace velkor::control
