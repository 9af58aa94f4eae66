#pragma once
// A bus of simulated M-Bus slaves, as the link layer sees them. Pure: a request
// frame goes in, the bytes the bus carries back come out. The simulator puts
// it behind a pseudo-terminal; tests put it behind an in-process bus line.

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velkor::sim {

using byte_string = std::vector<std::uint8_t>;

// Offsets in a variable-data response (RSP_UD, CI 0x72).
inline constexpr std::size_t a_field_offset = 5;
inline constexpr std::size_t secondary_offset = 7;  // 8 bytes: ident (BCD, LSB first), manufacturer (LSB first), version, medium
inline constexpr std::size_t header_end = 19;       // first data record
inline constexpr std::uint8_t ack = 0xE5;
inline constexpr std::uint8_t selected_address = 0xFD;
inline constexpr std::uint8_t test_address = 0xFE;  // every slave answers
inline constexpr std::uint8_t broadcast_address = 0xFF;

struct meter_faults {
    bool silent = false;            // hears nothing, answers nothing
    bool no_data = false;           // acknowledges, but never answers REQ_UD2
    int bad_checksum_telegram = 0;  // telegram k (1-based) goes out with a wrong checksum; 0: none
    int stop_after = 0;             // no REQ_UD2 is answered once k telegrams went out since the last SND_NKE; 0: never
};

struct meter {
    std::string name;
    std::uint8_t primary_address = 0;
    std::array<std::uint8_t, 8> secondary{};  // wire order, as at telegram offsets 7..14
    std::uint32_t baud_rate = 0;              // 0: hears every rate until a baud-rate switch
    meter_faults faults;
    int delay_ms = -1;                   // from the end of a request to its answer; -1: 11 bit times to 30 ms
    std::vector<byte_string> telegrams;  // RSP_UD long frames, sent in turn

    // Link state.
    bool selected = false;
    int next_telegram = 0;   // index sent on the next new REQ_UD2
    int last_telegram = -1;  // index of the last telegram sent; -1 since a reset
    int last_fcb = -1;       // frame-count bit of the last REQ_UD2; -1 since a reset
    int sent_since_reset = 0;
};

// What the wire itself does, for every meter alike.
struct line_switches {
    bool echo = false;  // every byte the master sends comes straight back
    byte_string noise;  // goes out before every answer
};

struct meter_bus {
    std::vector<meter> meters;
    line_switches line;
};

struct bus_answer {
    byte_string bytes;  // every answer, in meter order: two answers collide into one byte string
    int answering = 0;  // number of meters that answered
    int delay_ms = -1;  // the first answering meter's delay
    std::string note;   // what the frame was and what each meter did, for a log
};

// One request frame (E5, short or long frame) on the bus. baud_rate 0 reaches
// every meter; otherwise only meters that hear that rate. Frames with a wrong
// checksum or layout are ignored, as real slaves do.
bus_answer answer_frame(meter_bus& bus, std::span<const std::uint8_t> frame, std::uint32_t baud_rate = 0);

// Back to the state after power-up: no selection, telegram sequences restarted.
void restart(meter& m);

// A meter whose addresses come from its first telegram's header (primary
// address from its A field unless given). Telegrams are taken as they are.
meter make_meter(std::string name, std::vector<byte_string> telegrams, int primary_address = -1);

// An RSP_UD frame (C 0x08, CI 0x72) with L and checksum filled in.
// `records` are the data records after the 12-byte header.
byte_string compose_telegram(std::uint8_t a_field, const std::array<std::uint8_t, 8>& secondary, std::uint8_t access,
                             std::uint8_t status, std::span<const std::uint8_t> records);

// Wire order from the text form's parts: ident 12345678, manufacturer "ABC".
std::array<std::uint8_t, 8> secondary_bytes(std::uint32_t ident_bcd, const char* manufacturer, std::uint8_t version,
                                            std::uint8_t medium);

// "12345678-ABC-1-7": the text form clients use.
std::string secondary_text(const std::array<std::uint8_t, 8>& wire);

// The telegram meter m sends as its index-th, with its current addresses and
// the checksum (wrong when the fault asks for it).
byte_string outgoing_telegram(const meter& m, int index);

// Sum modulo 256 of C..last user byte of a short (0x10) or long (0x68) frame.
std::uint8_t checksum_of(std::span<const std::uint8_t> frame);

std::string hex_text(std::span<const std::uint8_t> bytes);

} // namespace velkor::sim
