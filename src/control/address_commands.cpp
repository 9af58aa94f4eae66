// The address list's commands and the ones that change a slave's addresses.

#include <cstdio>

#include "base/trace.h"
#include "control/command.h"
#include "link/frames.h"

namespace velkor::control {

namespace {

int primary_start(const command& c) { return c.d.config.primary_start; }

// How a change of a slave's addresses ended.
enum class change {
    made,
    slave_unavailable,  // the selection found no slave
    list_full,          // no address to give (or the one asked for is taken)
    not_acknowledged,   // the slave did not confirm the new address
    already_listed,
    not_listed,
};

// Messages of both setting commands, by outcome.
void set_primary_message(command& c, change outcome)
{
    switch (outcome) {
    case change::made:
        c.message.format("SET_PRIMARY_ADDRESS: set slave %s to address %d", c.secAdr.c_str(), c.target);
        break;
    case change::slave_unavailable:
        c.message.format("SET_PRIMARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    case change::list_full:
        c.message.format("SET_PRIMARY_ADDRESS: could not add address to list");
        break;
    case change::not_acknowledged:
        c.message.format("SET_PRIMARY_ADDRESS: could not set slave %s to primary address", c.secAdr.c_str());
        break;
    default:
        c.message.format("SET_PRIMARY_ADDRESS: primary address for slave %s is already existing", c.secAdr.c_str());
        break;
    }
}

// Sends the new primary address to the selected slave.
change send_primary(command& c)
{
    link::build_set_primary(c.d.bus, static_cast<std::uint8_t>(c.target));
    exchange(c);
    return acknowledged(c) ? change::made : change::not_acknowledged;
}

} // namespace

void set_primary_address(command& c)
{
    change outcome = change::made;
    if (select_slave(c)) {
        const int assigned = list_assign(c.d.addresses, c.secAdr.view(), primary_start(c));
        if (assigned >= 1) {
            c.target = assigned;
            outcome = send_primary(c);
        } else {
            outcome = assigned == 0 ? change::already_listed : change::list_full;
        }
    } else {
        outcome = change::slave_unavailable;
    }
    if (outcome != change::made && outcome != change::already_listed)
        list_remove(c.d.addresses, c.secAdr.view());
    set_primary_message(c, outcome);
    report(c, __LINE__, outcome == change::already_listed ? 2 : 1);
}

void set_primary_address_manual(command& c)
{
    change outcome = change::made;
    c.target = 0;
    const bool reset_address = c.param == c.d.config.primary_reset;
    if (!reset_address && !manual_address_free(c.d.addresses, c.secAdr.view(), c.param)) {
        // Refused before anything goes out: the slave keeps the address it
        // has, and so does its entry.
        outcome = change::list_full;
    } else if (select_slave(c)) {
        list_remove(c.d.addresses, c.secAdr.view());
        if (!reset_address)
            c.target = list_assign_manual(c.d.addresses, c.secAdr.view(), c.param, primary_start(c));
        if (c.target >= 1)
            outcome = send_primary(c);
        else
            outcome = c.target == 0 ? change::already_listed : change::list_full;
        if (outcome != change::made)
            list_remove(c.d.addresses, c.secAdr.view());
    } else {
        outcome = change::slave_unavailable;
        list_remove(c.d.addresses, c.secAdr.view());
    }
    set_primary_message(c, outcome);
    if (outcome != change::already_listed)
        report(c, __LINE__, 1);
    report(c, __LINE__, 2);
}

void reset_primary_address(command& c)
{
    change outcome = change::made;
    const bool selected = select_slave(c);
    if (!list_remove(c.d.addresses, c.secAdr.view()))
        outcome = change::not_listed;
    if (selected) {
        link::build_set_primary(c.d.bus, static_cast<std::uint8_t>(c.d.config.primary_reset));
        exchange(c);
        if (!acknowledged(c))
            outcome = change::not_acknowledged;
    } else {
        outcome = change::slave_unavailable;
    }
    switch (outcome) {
    case change::made:
        c.message.format("RESET_PRIMARY_ADDRESS: reset primary address for slave %s", c.secAdr.c_str());
        break;
    case change::slave_unavailable:
        c.message.format("RESET_PRIMARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    case change::not_listed:
        c.message.format("RESET_PRIMARY_ADDRESS: address for slave %s unavailable in list", c.secAdr.c_str());
        break;
    default:
        c.message.format("RESET_PRIMARY_ADDRESS: could not set slave %s to reset address %d", c.secAdr.c_str(),
                         c.d.config.primary_reset);
        break;
    }
    report(c, __LINE__, outcome == change::made ? 2 : 1);
}

void get_address_list(command& c)
{
    results::search_progress progress;
    if (c.id != 0)
        results::write_slaves_file(c.d.files, c.id, progress);
    for (int slot = first_slot(primary_start(c)); slot < address_slots; ++slot) {
        const address_slot& s = c.d.addresses.slots[static_cast<std::size_t>(slot)];
        if (s.primary == 0)
            continue;
        if (trace::control)
            std::printf("GET_ADDRESS_LIST: %d\t%s\n", s.primary, s.name.c_str());
        ++progress.count;
        if (c.id != 0) {
            progress.phase = results::list_phase::entry;
            progress.secondary.assign(s.name.view());  // the document's field holds 31 characters
            progress.primary.format("%d", s.primary);
            progress.progress.clear();
            results::write_slaves_file(c.d.files, c.id, progress);
        }
    }
    if (progress.count == 0 && trace::control)
        std::puts("GET_ADDRESS_LIST: no primary addresses found");
    if (c.id != 0) {
        progress.phase = results::list_phase::end;
        progress.secondary.clear();
        progress.primary.clear();
        results::write_slaves_file(c.d.files, c.id, progress);
    }
}

void reset_address_list(command& c)
{
    link::build_reset_all_primary(c.d.bus);
    exchange(c);
    // The slaves may still hold their addresses: a cleared list would hand
    // them out a second time.
    if (c.d.line->line_failed()) {
        c.message.assign("RESET_ADDRESS_LIST: the line was lost, address list kept");
        report(c, __LINE__, 1);
        return;
    }
    list_clear(c.d.addresses);
    if (trace::control)
        std::puts("RESET_ADDRESS_LIST: OK");
}

void check_sec_address(command& c)
{
    const bool available = select_slave(c);
    if (trace::control)
        std::printf(available ? "CHECK_SEC_ADDRESS: slave %s available\n" : "CHECK_SEC_ADDRESS: slave %s unavailable\n",
                    c.secAdr.c_str());
}

void set_secondary_address(command& c)
{
    // The new address follows the prefix: from the eleventh character on.
    const std::string_view new_address = c.name.size() > 10 ? c.name.view().substr(10) : std::string_view{};
    change outcome = change::made;
    if (select_slave(c)) {
        link::build_set_secondary(c.d.bus, new_address);
        exchange(c);
        if (!acknowledged(c))
            outcome = change::not_acknowledged;
    } else {
        outcome = change::slave_unavailable;
    }
    switch (outcome) {
    case change::made:
        c.message.format("SET_SECONDARY_ADDRESS: set slave %s to address %.*s", c.secAdr.c_str(),
                         static_cast<int>(new_address.size()), new_address.data());
        break;
    case change::slave_unavailable:
        c.message.format("SET_SECONDARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    default:
        c.message.format("SET_SECONDARY_ADDRESS: could not set slave %s to new secondary address", c.secAdr.c_str());
        break;
    }
    if (outcome != change::made)
        report(c, __LINE__, 1);
    report(c, __LINE__, 2);
}

} // namespace velkor::control
