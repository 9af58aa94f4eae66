#pragma once
// What velkor-cmd knows of a command before it sends it: whether the daemon
// has a command of that name, whether --br and --sec say something it can
// use, and how long the command may take at the worst, so that the wait for
// its answer has an end that fits the command.

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "control/command.h"
#include "control/command_table.h"
#include "link/receive.h"
#include "link/timing.h"
#include "link/transceiver.h"

namespace velkor::cmd {

// Exchanges a command makes at the worst: requests answered by one character
// or nothing (selections, SND_NKE, SND_UD), readouts of a long frame, and
// the probes of a search, each of which may collide.
struct command_cost {
    int requests = 0;
    int readouts = 0;
    int probes = 0;
};

namespace detail {

// A bus that answers every probe of a search: 250 slaves, each found after
// about four probes and read with two tries.
inline constexpr int search_slaves = 250;
inline constexpr command_cost search{0, 2 * search_slaves, 10 + 4 * search_slaves};
inline constexpr command_cost one_slave{3, 0};
inline constexpr command_cost one_slave_read{4, 2};
inline constexpr command_cost readout{3, -1};

struct named_command {
    std::string_view name;
    enum { exact, with_address, with_path } form;
    command_cost cost;
};

inline constexpr named_command commands[] = {
    {"FUNCTION_TEST", named_command::exact, {0, 0}},
    {"GET_ADDRESS_LIST", named_command::exact, {0, 0}},
    {"RESET_ADDRESS_LIST", named_command::exact, {0, 0}},
    {"SLAVE_SEARCH", named_command::exact, search},
    {"GET_DATA", named_command::exact, readout},
    {"GET_RAW_DATA", named_command::exact, readout},
    {"GET_STRUCT_DATA", named_command::exact, readout},
    {"HALLO", named_command::exact, one_slave},
    {"HALLO_EXT", named_command::exact, one_slave_read},
    {"CHECK_SEC_ADDRESS", named_command::exact, one_slave},
    {"SET_PRIMARY_ADDRESS", named_command::exact, one_slave_read},
    {"SET_PRIMARY_ADDRESS_MANUAL", named_command::exact, one_slave_read},
    {"RESET_PRIMARY_ADDRESS", named_command::exact, one_slave},
    {"SET_BAUDRATE", named_command::exact, one_slave},
    {"FREEZE_DATA", named_command::exact, one_slave},
    {"SND_UD_RESET_CTRL", named_command::exact, one_slave},
    {"SND_UD_SET_TEMP", named_command::exact, one_slave},
    {"SND_UD_RESET_TEMP", named_command::exact, one_slave},
    {"SND_UD_SET_SENSOR", named_command::exact, one_slave},
    {"SND_UD_APPL_RESET", named_command::exact, one_slave},
    {"SND_UD_CTRL", named_command::exact, one_slave},
    {"SND_UD_CTRL_U", named_command::exact, one_slave},
    {"SND_UD_CTRL_I", named_command::exact, one_slave},
    {"SETSECADR_", named_command::with_address, one_slave},
    {"FILE", named_command::with_path, one_slave},
};

// The daemon's own table decides which names exist; this one adds what
// velkor-cmd checks beyond it and the costs. Both list the same names, with
// an exact name where the daemon tests equality.
consteval bool same_names_as_the_daemon()
{
    if (std::size(commands) != std::size(control::command_table))
        return false;
    for (const control::command_entry& entry : control::command_table) {
        const bool equal = entry.test == control::name_test::equal;
        if (std::none_of(std::begin(commands), std::end(commands), [&](const named_command& c) {
                return c.name == entry.name && (c.form == named_command::exact) == equal;
            }))
            return false;
    }
    return true;
}
static_assert(same_names_as_the_daemon(), "velkor-cmd must know the daemon's commands, and only those");

} // namespace detail

// "12345678-ABC-1-7": eight digits, three capital letters, version and
// medium from 0 to 255, joined by hyphens.
inline bool is_secondary_address(std::string_view s)
{
    const auto digits = [&](std::size_t from, std::size_t count) {
        return s.size() >= from + count &&
               std::all_of(s.begin() + from, s.begin() + from + count, [](char c) { return c >= '0' && c <= '9'; });
    };
    const auto number = [&](std::string_view n) {
        return !n.empty() && n.size() <= 3 && std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
               std::stoi(std::string(n)) <= 255;
    };
    if (s.size() < 16 || !digits(0, 8) || s[8] != '-' || s[12] != '-')
        return false;
    if (!std::all_of(s.begin() + 9, s.begin() + 12, [](char c) { return c >= 'A' && c <= 'Z'; }))
        return false;
    const std::string_view rest = s.substr(13);
    const std::size_t hyphen = rest.find('-');
    return hyphen != std::string_view::npos && number(rest.substr(0, hyphen)) && number(rest.substr(hyphen + 1));
}

inline bool is_line_speed(std::int32_t br)
{
    return link::line_rate(static_cast<std::uint32_t>(br < 0 ? 0 : br)) == static_cast<std::uint32_t>(br);
}

// The cost of the named command; none when the daemon has no command of that
// name. A readout's telegrams are the limit in param, or the daemon's own.
inline std::optional<command_cost> command_named(std::string_view name, std::int32_t param)
{
    for (const auto& c : detail::commands) {
        const bool match = c.form == detail::named_command::exact ? name == c.name
                           : c.form == detail::named_command::with_address
                               ? name.substr(0, c.name.size()) == c.name && is_secondary_address(name.substr(c.name.size()))
                               : name.size() > c.name.size() + 1 && name.substr(0, c.name.size()) == c.name;
        if (!match)
            continue;
        command_cost cost = c.cost;
        if (cost.readouts < 0)
            cost.readouts = param > 0 && param < control::max_telegrams ? param : control::max_telegrams;
        return cost;
    }
    return std::nullopt;
}

// The names as the usage of a refusal lists them.
inline std::string command_names()
{
    std::string names;
    for (const auto& c : detail::commands) {
        names += names.empty() ? "" : ", ";
        names += c.name;
        names += c.form == detail::named_command::with_address ? "<secondary address>"
                 : c.form == detail::named_command::with_path  ? " <path>"
                                                               : "";
    }
    return names;
}

// The longest the daemon may need for the command at the line speed, with
// either link timing at its default settings (standard repeats an exchange
// twice), plus a quarter and five seconds for the FIFO and a loaded machine.
inline double worst_case_seconds(command_cost cost, std::int32_t br)
{
    const auto rate = static_cast<std::uint32_t>(br);
    const link::link_timing standard{link::timing_profile::standard};
    const auto exchange_ms = [&](std::int32_t sent, link::answer_mode mode, std::int32_t answer) {
        const int classic = link::pause_ms(rate) + link::answer_timeout_ms(rate, sent, mode) + 10;
        const int repeated = (1 + standard.retries) * (standard.pause_ms + link::wire_time_ms(rate, sent) +
                                                       link::answer_window_ms(rate, standard.margin_ms) +
                                                       link::wire_time_ms(rate, answer));
        return std::max(classic, repeated);
    };
    constexpr std::int32_t selection = 17, request = 5;
    const double request_ms = exchange_ms(selection, link::answer_mode::ack, 1);
    const double readout_ms = exchange_ms(request, link::answer_mode::long_frame, link::longest_long_frame);
    const double probe_ms = request_ms + link::classic_collision_pause_ms;
    return 5 + 1.25 * (cost.requests * request_ms + cost.readouts * readout_ms + cost.probes * probe_ms) / 1000;
}

} // namespace velkor::cmd
