#include "control/dispatcher.h"

#include <cstdio>

#include "control/command.h"
#include "link/checks.h"
#include "link/frames.h"
#include "link/line_choice.h"
#include "log/trace.h"

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

bool select_slave(command& c)
{
    link::build_select(c.d.bus, c.secAdr.view());
    exchange(c);
    return link::check_ack(c.d.bus) == 1;
}

void report(command& c, int line, int level, log::entry_kind kind)
{
    if (trace::control)
        std::puts(c.message.c_str());
    log::log_write(c.d.log, "mbus_control", line, level, c.message.view(), kind);
}

int address_target_slave(command& c)
{
    const int primary = list_lookup(c.d.addresses, c.secAdr.view());
    if (primary >= 0) {
        c.target = primary;
        return 0;
    }
    c.message.format("%s: no prim. addr. for slave %s in list, use sec. addr.", c.name.c_str(), c.secAdr.c_str());
    report(c, __LINE__, 2);
    if (!select_slave(c)) {
        c.message.format("%s: slave with address %s not available", c.name.c_str(), c.secAdr.c_str());
        report(c, __LINE__, 1);
        return -1;
    }
    c.target = link::selected_address;
    return 0;
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

namespace {

// Answers a command whose last request awaited the acknowledgement character.
void acknowledgement_epilogue(command& c)
{
    if (c.d.bus.answer_mode != link::answer_short)
        return;
    const int ack = link::check_ack(c.d.bus);
    answer_acknowledgement(c, ack == 1 ? "OK" : ack == 0 ? "No Answer" : "Unknown", ack == 1 ? 2 : 1);
}

// The commands tested one by one after the exclusive group; true when the
// dispatch ends without the epilogue.
bool run_last_group(command& c)
{
    const std::string_view n = c.name.view();
    if (n == "HALLO")
        return hallo(c);
    if (n == "HALLO_EXT") {
        hallo_ext(c);
        return false;
    }
    if (n == "SET_BAUDRATE")
        return set_baudrate(c);
    if (n == "FREEZE_DATA") {
        freeze_data(c);
        return false;
    }
    if (n == "GET_DATA") {
        get_data(c);
        return false;
    }
    if (n == "GET_RAW_DATA") {
        get_raw_data(c);
        return false;
    }
    if (n == "GET_STRUCT_DATA") {
        get_struct_data(c);
        return false;
    }
    if (n == "SND_UD_RESET_CTRL" || n == "SND_UD_SET_TEMP" || n == "SND_UD_RESET_TEMP" || n == "SND_UD_SET_SENSOR" ||
        n == "SND_UD_APPL_RESET" || n == "SND_UD_CTRL" || n == "SND_UD_CTRL_U" || n == "SND_UD_CTRL_I")
        return snd_ud(c);
    if (n.find("FILE") != std::string_view::npos)
        return send_frame_file(c);
    return false;
}

} // namespace

void dispatch_command(daemon_state& d, const command_record& record)
{
    d.bus = link::bus_context{};
    command c(d, record);
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

    const std::string_view n = c.name.view();
    if (n == "FUNCTION_TEST")
        function_test(c);
    if (n == "CHECK_SEC_ADDRESS")
        check_sec_address(c);

    if (n.find("SETSECADR_") != std::string_view::npos) {
        set_secondary_address(c);
        return;
    }
    if (n == "SET_PRIMARY_ADDRESS") {
        set_primary_address(c);
        return;
    }
    if (n == "SET_PRIMARY_ADDRESS_MANUAL") {
        set_primary_address_manual(c);
        return;
    }
    if (n == "RESET_PRIMARY_ADDRESS") {
        reset_primary_address(c);
        return;
    }
    if (n == "GET_ADDRESS_LIST") {
        get_address_list(c);
        return;
    }
    if (n == "RESET_ADDRESS_LIST") {
        reset_address_list(c);
        return;
    }
    if (n == "SLAVE_SEARCH") {
        slave_search(c);
        return;
    }
    if (run_last_group(c))
        return;
    acknowledgement_epilogue(c);
}

} // namespace velkor::control
