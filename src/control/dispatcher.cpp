#include "control/dispatcher.h"

#include <cstdio>

#include "base/trace.h"
#include "control/command_table.h"
#include "link/checks.h"
#include "link/frames.h"
#include "link/line_choice.h"

namespace velkor::control {

command::command(daemon_state& state, const command_record& record)
    : d(state),
      bus(field_view(record.bus.data(), record.bus.size())),
      secAdr(field_view(record.secAdr.data(), record.secAdr.size())),
      name(field_view(record.cmd.data(), record.cmd.size())),
      id(record.id),
      br(record.br),
      param(record.param)
{
}

void exchange(command& c) { link::transceive_repeating(*c.d.line, c.d.bus); }

bool acknowledged(const command& c) { return link::check_ack(c.d.bus) == link::ack::ok; }

bool select_slave(command& c)
{
    link::build_select(c.d.bus, c.secAdr.view());
    exchange(c);
    return acknowledged(c);
}

void report(command& c, int line, int level, log::entry_kind kind)
{
    if (trace::control)
        std::puts(c.message.c_str());
    log::log_write(c.d.log, "mbus_control", line, level, c.message.view(), kind);
}

bool address_target_slave(command& c)
{
    const int primary = list_lookup(c.d.addresses, c.secAdr.view());
    if (primary >= 0) {
        c.target = primary;
        return true;
    }
    c.message.format("%s: no prim. addr. for slave %s in list, use sec. addr.", c.name.c_str(), c.secAdr.c_str());
    report(c, __LINE__, 2);
    if (!select_slave(c)) {
        c.message.format("%s: slave with address %s not available", c.name.c_str(), c.secAdr.c_str());
        report(c, __LINE__, 1);
        return false;
    }
    c.target = link::selected_address;
    return true;
}

void answer_acknowledgement(command& c, const char* response, int level)
{
    if (c.id != 0) {
        text<32> primary("NO");
        if (c.target >= 1 && c.target <= 250)
            primary.format("%d", c.target);
        results::write_ack_answer(c.d.files, c.id, response, primary.view());
    }
    c.message.format("%s: response = %s", c.name.c_str(), response);
    report(c, __LINE__, level);
}

void acknowledgement_epilogue(command& c)
{
    if (c.d.bus.answer_mode != link::answer_mode::ack)
        return;
    const link::ack ack = link::check_ack(c.d.bus);
    answer_acknowledgement(c, ack == link::ack::ok ? "OK" : ack == link::ack::none ? "No Answer" : "Unknown",
                           ack == link::ack::ok ? 2 : 1);
}

void dispatch_command(daemon_state& d, const command_record& record)
{
    d.bus = link::bus_context{};
    d.line->begin_command();
    command c(d, record);
    if (c.id != 0)
        results::remove_result(d.files, c.id, c.name.view());
    d.bus.bus_name.assign(c.bus.view());
    d.bus.baud_rate = static_cast<std::uint32_t>(c.br);
    const link::line_match match = link::match_bus_name(d.bus.bus_name.c_str(), d.config.serial_port_name.c_str());
    d.bus.line = link::line_for(match);
    if (trace::control) {
        std::printf("BUS = %s\n", d.bus.bus_name.c_str());
        text<320> line;
        link::describe_line(match, d.config.serial_port_name.c_str(), line);
        std::printf("LINE = %s\n", line.c_str());
    }

    // A name no command has does nothing.
    const command_entry* entry = find_command(c.name.view());
    if (!entry)
        return;
    entry->run(c);
    if (entry->then == afterwards::acknowledgement)
        acknowledgement_epilogue(c);
}

} // namespace velkor::control
