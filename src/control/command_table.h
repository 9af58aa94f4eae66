#pragma once
// Every command the dispatcher runs, in the order names are matched: the
// first entry whose test the name passes runs, and no other. A command is one
// row here and one function in its family.

#include <string_view>

#include "control/command.h"

namespace velkor::control {

enum class name_test {
    equal,
    contains,  // anywhere in the name; the argument follows in the name
};

// What the dispatcher does once the command has run.
enum class afterwards {
    nothing,          // the command answered for itself, or needs no answer
    acknowledgement,  // acknowledgement_epilogue
};

struct command_entry {
    std::string_view name;
    name_test test;
    void (*run)(command& c);
    afterwards then;
};

inline constexpr command_entry command_table[] = {
    {"FUNCTION_TEST", name_test::equal, function_test, afterwards::acknowledgement},
    {"CHECK_SEC_ADDRESS", name_test::equal, check_sec_address, afterwards::acknowledgement},
    // The address list and the search: each ends the dispatch.
    {"SETSECADR_", name_test::contains, set_secondary_address, afterwards::nothing},
    {"SET_PRIMARY_ADDRESS", name_test::equal, set_primary_address, afterwards::nothing},
    {"SET_PRIMARY_ADDRESS_MANUAL", name_test::equal, set_primary_address_manual, afterwards::nothing},
    {"RESET_PRIMARY_ADDRESS", name_test::equal, reset_primary_address, afterwards::nothing},
    {"GET_ADDRESS_LIST", name_test::equal, get_address_list, afterwards::nothing},
    {"RESET_ADDRESS_LIST", name_test::equal, reset_address_list, afterwards::nothing},
    {"SLAVE_SEARCH", name_test::equal, slave_search, afterwards::nothing},
    // The rest address one slave: an addressing failure ends them unanswered.
    {"HALLO", name_test::equal, hallo, afterwards::nothing},
    {"HALLO_EXT", name_test::equal, hallo_ext, afterwards::acknowledgement},
    {"SET_BAUDRATE", name_test::equal, set_baudrate, afterwards::nothing},
    {"FREEZE_DATA", name_test::equal, freeze_data, afterwards::acknowledgement},
    {"GET_DATA", name_test::equal, get_data, afterwards::acknowledgement},
    {"GET_RAW_DATA", name_test::equal, get_raw_data, afterwards::acknowledgement},
    {"GET_STRUCT_DATA", name_test::equal, get_struct_data, afterwards::acknowledgement},
    {"SND_UD_RESET_CTRL", name_test::equal, snd_ud<link::build_snd_ud_reset_ctrl>, afterwards::nothing},
    {"SND_UD_SET_TEMP", name_test::equal, snd_ud<link::build_snd_ud_set_temp>, afterwards::nothing},
    {"SND_UD_RESET_TEMP", name_test::equal, snd_ud<build_snd_ud_reset_temp>, afterwards::nothing},
    {"SND_UD_SET_SENSOR", name_test::equal, snd_ud<link::build_snd_ud_set_sensor>, afterwards::nothing},
    {"SND_UD_APPL_RESET", name_test::equal, snd_ud<link::build_snd_ud_appl_reset>, afterwards::nothing},
    {"SND_UD_CTRL", name_test::equal, snd_ud<link::build_snd_ud_ctrl>, afterwards::nothing},
    {"SND_UD_CTRL_U", name_test::equal, snd_ud<link::build_snd_ud_ctrl_u>, afterwards::nothing},
    {"SND_UD_CTRL_I", name_test::equal, snd_ud<link::build_snd_ud_ctrl_i>, afterwards::nothing},
    {"FILE", name_test::contains, send_frame_file, afterwards::nothing},
};

constexpr bool name_passes(std::string_view name, const command_entry& entry)
{
    return entry.test == name_test::equal ? name == entry.name : name.find(entry.name) != std::string_view::npos;
}

// The entry that runs a command of this name; nullptr when none does.
constexpr const command_entry* find_command(std::string_view name)
{
    for (const command_entry& entry : command_table)
        if (name_passes(name, entry))
            return &entry;
    return nullptr;
}

} // namespace velkor::control
