// The address list's commands and the ones that change a slave's addresses.

#include <cstdio>

#include "control/command.h"
#include "link/checks.h"
#include "link/frames.h"
#include "log/trace.h"

namespace velkor::control {

namespace {

bool acknowledged(command& c) { return link::check_ack(c.d.bus) == link::ack::ok; }

int primary_start(const command& c) { return c.d.config.primary_start; }

// Messages of both setting commands, by outcome.
void set_primary_message(command& c, int outcome)
{
    switch (outcome) {
    case 0:
        c.message.format("SET_PRIMARY_ADDRESS: set slave %s to address %d", c.secAdr.c_str(), c.target);
        break;
    case 1:
        c.message.format("SET_PRIMARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    case 2:
        c.message.format("SET_PRIMARY_ADDRESS: could not add address to list");
        break;
    case 3:
        c.message.format("SET_PRIMARY_ADDRESS: could not set slave %s to primary address", c.secAdr.c_str());
        break;
    default:
        c.message.format("SET_PRIMARY_ADDRESS: primary address for slave %s is already existing", c.secAdr.c_str());
        break;
    }
}

// Sends the new primary address to the selected slave; 0, or outcome 3.
int send_primary(command& c)
{
    link::build_set_primary(c.d.bus, static_cast<std::uint8_t>(c.target));
    exchange(c);
    return acknowledged(c) ? 0 : 3;
}

} // namespace

void set_primary_address(command& c)
{
    int outcome = 0;
    if (select_slave(c)) {
        const int assigned = list_assign(c.d.addresses, c.secAdr.view(), primary_start(c));
        if (assigned >= 1) {
            c.target = assigned;
            outcome = send_primary(c);
        } else {
            outcome = assigned == 0 ? 4 : 2;
        }
    } else {
        outcome = 1;
    }
    if (outcome >= 1 && outcome <= 3)
        list_remove(c.d.addresses, c.secAdr.view());
    set_primary_message(c, outcome);
    report(c, __LINE__, outcome == 4 ? 2 : 1);
}

void set_primary_address_manual(command& c)
{
    int outcome = 0;
    c.target = 0;
    const bool reset_address = c.param == c.d.config.primary_reset;
    if (!reset_address && !manual_address_free(c.d.addresses, c.secAdr.view(), c.param)) {
        // Refused before anything goes out: the slave keeps the address it
        // has, and so does its entry.
        outcome = 2;
    } else if (select_slave(c)) {
        list_remove(c.d.addresses, c.secAdr.view());
        if (!reset_address)
            c.target = list_assign_manual(c.d.addresses, c.secAdr.view(), c.param, primary_start(c));
        if (c.target >= 1)
            outcome = send_primary(c);
        else
            outcome = c.target == 0 ? 4 : 2;
        if (outcome != 0)
            list_remove(c.d.addresses, c.secAdr.view());
    } else {
        outcome = 1;
        list_remove(c.d.addresses, c.secAdr.view());
    }
    set_primary_message(c, outcome);
    if (outcome != 4)
        report(c, __LINE__, 1);
    report(c, __LINE__, 2);
}

void reset_primary_address(command& c)
{
    int outcome = 0;
    const bool selected = select_slave(c);
    if (list_remove(c.d.addresses, c.secAdr.view()) != 0)
        outcome = 2;
    if (selected) {
        link::build_set_primary(c.d.bus, static_cast<std::uint8_t>(c.d.config.primary_reset));
        exchange(c);
        if (!acknowledged(c))
            outcome = 3;
    } else {
        outcome = 1;
    }
    switch (outcome) {
    case 0:
        c.message.format("RESET_PRIMARY_ADDRESS: reset primary address for slave %s", c.secAdr.c_str());
        break;
    case 1:
        c.message.format("RESET_PRIMARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    case 2:
        c.message.format("RESET_PRIMARY_ADDRESS: address for slave %s unavailable in list", c.secAdr.c_str());
        break;
    default:
        c.message.format("RESET_PRIMARY_ADDRESS: could not set slave %s to reset address %d", c.secAdr.c_str(),
                         c.d.config.primary_reset);
        break;
    }
    report(c, __LINE__, outcome == 0 ? 2 : 1);
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
            progress.phase = 1;
            progress.secondary.assign(s.name.view());  // the document's field holds 31 characters
            progress.primary.format("%d", s.primary);
            progress.progress.clear();
            results::write_slaves_file(c.d.files, c.id, progress);
        }
    }
    if (progress.count == 0 && trace::control)
        std::puts("GET_ADDRESS_LIST: no primary addresses found");
    if (c.id != 0) {
        progress.phase = 2;
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
    int outcome = 0;
    if (select_slave(c)) {
        link::build_set_secondary(c.d.bus, new_address);
        exchange(c);
        if (!acknowledged(c))
            outcome = 2;
    } else {
        outcome = 1;
    }
    switch (outcome) {
    case 0:
        c.message.format("SET_SECONDARY_ADDRESS: set slave %s to address %.*s", c.secAdr.c_str(),
                         static_cast<int>(new_address.size()), new_address.data());
        break;
    case 1:
        c.message.format("SET_SECONDARY_ADDRESS: slave %s unavailable", c.secAdr.c_str());
        break;
    default:
        c.message.format("SET_SECONDARY_ADDRESS: could not set slave %s to new secondary address", c.secAdr.c_str());
        break;
    }
    if (outcome != 0)
        report(c, __LINE__, 1);
    report(c, __LINE__, 2);
}

} // namespace velkor::control
