#include "control/address_list.h"

namespace velkor::control {

namespace {

// An empty name is never listed, so it cannot match a free slot.
bool holds(const address_slot& slot, std::string_view name) { return !name.empty() && slot.name == name; }

address_slot* find(address_list& list, std::string_view name)
{
    for (auto& slot : list.slots)
        if (holds(slot, name))
            return &slot;
    return nullptr;
}

// A slot other than the one of `except` holds this primary address (a free
// slot holds none).
bool address_held(const address_list& list, int address, std::string_view except)
{
    for (const auto& slot : list.slots)
        if (slot.primary != 0 && slot.primary == address && !holds(slot, except))
            return true;
    return false;
}

int assign(address_list& list, std::string_view name, int primary_start, int address, bool own_number)
{
    if (name.empty())
        return -1;
    if (find(list, name))
        return 0;
    for (int i = first_slot(primary_start); i < address_slots; ++i) {
        address_slot& slot = list.slots[static_cast<std::size_t>(i)];
        if (slot.primary != 0 || (own_number && address_held(list, i, name)))
            continue;
        slot.name.assign(name);
        slot.primary = own_number ? static_cast<std::uint8_t>(i) : static_cast<std::uint8_t>(address & 0xFF);
        return slot.primary;
    }
    return -1;
}

} // namespace

int first_slot(int primary_start) { return primary_start < 1 ? 1 : primary_start; }

int list_lookup(const address_list& list, std::string_view name)
{
    for (const auto& slot : list.slots)
        if (holds(slot, name))
            return slot.primary;
    return -1;
}

int list_assign(address_list& list, std::string_view name, int primary_start)
{
    return assign(list, name, primary_start, 0, true);
}

int list_assign_manual(address_list& list, std::string_view name, int address, int primary_start)
{
    return assign(list, name, primary_start, address, false);
}

bool manual_address_free(const address_list& list, std::string_view name, int address)
{
    constexpr int first_reserved = 251;
    const int low = address & 0xFF;
    return low < first_reserved && !address_held(list, low, name);
}

bool list_remove(address_list& list, std::string_view name)
{
    address_slot* slot = find(list, name);
    if (!slot)
        return false;
    *slot = address_slot{};
    return true;
}

void list_clear(address_list& list)
{
    for (auto& slot : list.slots)
        slot = address_slot{};
}

} // namespace velkor::control
