#pragma once
// What one command carries while it runs, and the moves every command family
// shares: exchanges on the bus, the addressing rule, outcome messages.

#include <string_view>

#include "base/text.h"
#include "control/command_record.h"
#include "control/daemon.h"
#include "link/frames.h"

namespace velkor::control {

struct command {
    daemon_state& d;
    // Zero-terminated copies of the record's fields, bounded by their fields.
    text<257> bus;
    text<33> secAdr;
    text<33> name;
    std::int32_t id = 0;
    std::int32_t br = 0;
    std::int32_t param = 0;

    int target = 0;  // address of the slave: primary, or 253 after selection
    int fcb = 1;     // frame-count bit of the next REQ_UD2
    text<256> message;

    command(daemon_state& state, const command_record& record);
};

// One exchange of the frame just built.
void exchange(command& c);
// Whether the last answer is the acknowledgement character alone.
bool acknowledged(const command& c);
// Selects the slave by the record's secondary address; true when acknowledged.
bool select_slave(command& c);
// The addressing rule: the primary address from the address list, else a
// selection and 253. false when the slave is not available.
bool address_target_slave(command& c);
// Prints the message with the controller trace switch, then logs it.
void report(command& c, int line, int level, log::entry_kind kind = log::entry_kind::failure);
// The acknowledgement answer (with an id) and "<command>: response = <response>".
void answer_acknowledgement(command& c, const char* response, int level);
// Answers a command whose last request awaited the acknowledgement character;
// after any other request it does nothing.
void acknowledgement_epilogue(command& c);

// Command families, one function per command (control/command_table.h names
// them). Those the table gives no epilogue answer for themselves.
void function_test(command& c);
void check_sec_address(command& c);
void set_secondary_address(command& c);
void set_primary_address(command& c);
void set_primary_address_manual(command& c);
void reset_primary_address(command& c);
void get_address_list(command& c);
void reset_address_list(command& c);
void slave_search(command& c);
void hallo(command& c);
void hallo_ext(command& c);
void set_baudrate(command& c);
void freeze_data(command& c);
void get_data(command& c);
void get_raw_data(command& c);
void get_struct_data(command& c);
void send_frame_file(command& c);

// The SND_UD control requests differ in their builder alone; param is the value.
using control_request = void (*)(link::bus_context& bus, std::uint8_t address, std::int32_t value);
void snd_ud(command& c, control_request build);
template <control_request build>
void snd_ud(command& c)
{
    snd_ud(c, build);
}
inline void build_snd_ud_reset_temp(link::bus_context& bus, std::uint8_t address, std::int32_t)
{
    link::build_snd_ud_reset_temp(bus, address);
}

// A readout stops after this many telegrams, whatever the slave announces.
inline constexpr int max_telegrams = 128;

} // namespace velkor::control
