#include "control/dispatcher.h"

#include <cstdio>

#include "control/command.h"
#include "link/checks.h"
#include "link/frames.h"
#include "link/line_choice.h"
#include "log/trace.h"

namespace velkor::control {

namespace {

enum class name_test { equal, contains };

struct command_name {
    std::string_view name;
    name_test test;
};

// Every name the dispatcher runs, with the test it is matched by. The
// dispatcher names a command only through this table, so the FIFO reader's
// check of a record and the dispatch itself never disagree.
constexpr command_name command_names[] = {
    {"FUNCTION_TEST", name_test::equal},
    {"CHECK_SEC_ADDRESS", name_test::equal},
    {"SETSECADR_", name_test::contains},
    {"SET_PRIMARY_ADDRESS", name_test::equal},
    {"SET_PRIMARY_ADDRESS_MANUAL", name_test::equal},
    {"RESET_PRIMARY_ADDRESS", name_test::equal},
    {"GET_ADDRESS_LIST", name_test::equal},
    {"RESET_ADDRESS_LIST", name_test::equal},
    {"SLAVE_SEARCH", name_test::equal},
    {"HALLO", name_test::equal},
    {"HALLO_EXT", name_test::equal},
    {"SET_BAUDRATE", name_test::equal},
    {"FREEZE_DATA", name_test::equal},
    {"GET_DATA", name_test::equal},
    {"GET_RAW_DATA", name_test::equal},
    {"GET_STRUCT_DATA", name_test::equal},
    {"SND_UD_RESET_CTRL", name_test::equal},
    {"SND_UD_SET_TEMP", name_test::equal},
    {"SND_UD_RESET_TEMP", name_test::equal},
    {"SND_UD_SET_SENSOR", name_test::equal},
    {"SND_UD_APPL_RESET", name_test::equal},
    {"SND_UD_CTRL", name_test::equal},
    {"SND_UD_CTRL_U", name_test::equal},
    {"SND_UD_CTRL_I", name_test::equal},
    {"FILE", name_test::contains},
};

// A table entry, found when compiling: a name missing from the table does not build.
struct table_name {
    const command_name* entry;
    consteval table_name(const char* name) : entry(nullptr)
    {
        for (const command_name& n : command_names)
            if (n.name == name)
                entry = &n;
        if (!entry)
            throw "not in command_names";
    }
};

bool matches(std::string_view cmd, const command_name& n)
{
    return n.test == name_test::equal ? cmd == n.name : cmd.find(n.name) != std::string_view::npos;
}

bool is(std::string_view cmd, table_name name) { return matches(cmd, *name.entry); }

} // namespace

bool is_command_name(std::string_view cmd)
{
    for (const command_name& n : command_names)
        if (matches(cmd, n))
            return true;
    return false;
}

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
    return link::check_ack(c.d.bus) == link::ack::ok;
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
    if (c.d.bus.answer_mode != link::answer_mode::ack)
        return;
    const link::ack ack = link::check_ack(c.d.bus);
    answer_acknowledgement(c, ack == link::ack::ok ? "OK" : ack == link::ack::none ? "No Answer" : "Unknown",
                           ack == link::ack::ok ? 2 : 1);
}

// The commands tested one by one after the exclusive group; true when the
// dispatch ends without the epilogue.
bool run_last_group(command& c)
{
    const std::string_view n = c.name.view();
    if (is(n, "HALLO"))
        return hallo(c);
    if (is(n, "HALLO_EXT")) {
        hallo_ext(c);
        return false;
    }
    if (is(n, "SET_BAUDRATE"))
        return set_baudrate(c);
    if (is(n, "FREEZE_DATA")) {
        freeze_data(c);
        return false;
    }
    if (is(n, "GET_DATA")) {
        get_data(c);
        return false;
    }
    if (is(n, "GET_RAW_DATA")) {
        get_raw_data(c);
        return false;
    }
    if (is(n, "GET_STRUCT_DATA")) {
        get_struct_data(c);
        return false;
    }
    if (is(n, "SND_UD_RESET_CTRL") || is(n, "SND_UD_SET_TEMP") || is(n, "SND_UD_RESET_TEMP") ||
        is(n, "SND_UD_SET_SENSOR") || is(n, "SND_UD_APPL_RESET") || is(n, "SND_UD_CTRL") || is(n, "SND_UD_CTRL_U") ||
        is(n, "SND_UD_CTRL_I"))
        return snd_ud(c);
    if (is(n, "FILE"))
        return send_frame_file(c);
    return false;
}

} // namespace

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

    const std::string_view n = c.name.view();
    if (is(n, "FUNCTION_TEST"))
        function_test(c);
    if (is(n, "CHECK_SEC_ADDRESS"))
        check_sec_address(c);

    if (is(n, "SETSECADR_")) {
        set_secondary_address(c);
        return;
    }
    if (is(n, "SET_PRIMARY_ADDRESS")) {
        set_primary_address(c);
        return;
    }
    if (is(n, "SET_PRIMARY_ADDRESS_MANUAL")) {
        set_primary_address_manual(c);
        return;
    }
    if (is(n, "RESET_PRIMARY_ADDRESS")) {
        reset_primary_address(c);
        return;
    }
    if (is(n, "GET_ADDRESS_LIST")) {
        get_address_list(c);
        return;
    }
    if (is(n, "RESET_ADDRESS_LIST")) {
        reset_address_list(c);
        return;
    }
    if (is(n, "SLAVE_SEARCH")) {
        slave_search(c);
        return;
    }
    if (run_last_group(c))
        return;
    acknowledgement_epilogue(c);
}

} // namespace velkor::control
