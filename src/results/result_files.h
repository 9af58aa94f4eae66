#pragma once
// The JSON documents left for clients in the output directory: raw telegrams,
// structured records, decoded records, the slaves list, the acknowledgement
// answer and the message answer; the temporary file "mbus_create" and the
// abort file. Every document reaches its result file whole: it is written into
// a hidden file of a name of its own and renamed onto the result file.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "base/clock.h"
#include "base/log.h"
#include "base/text.h"
#include "decode/header.h"
#include "decode/records.h"
#include "results/json_text.h"

namespace velkor::results {

// The steps of the slaves list: forgetting the last list, one more entry
// (or none, with progress alone), the end.
enum class list_phase { start, entry, end };

// What the slave search and the address listing hand to the slaves-list writer.
struct search_progress {
    std::int32_t count = 0;
    text<32> secondary;
    text<32> primary;
    text<32> progress;
    list_phase phase = list_phase::start;
    bool incomplete = false; // at the end: the search could not cover the bus
};

// The steps of the raw document: opening it, one telegram, closing and publishing it.
enum class raw_phase { open, telegram, close };

struct slave_entry {
    text<32> secondary;  // empty: free
    text<32> primary;
};

inline constexpr std::size_t slaves_table_size = 250;

// Room for the output directory (255 characters) and any file name in it.
using path_text = text<320>;

// The writers' lasting state and what they need to know.
struct result_files {
    text<256> directory;                     // path_output, no trailing slash
    const log::log_settings* log = nullptr;  // every failure is logged at level 1
    velkor::clock* clock = nullptr;          // time stamp of the decoded document

    doc_file temp;               // "mbus_create" of the readout in progress; fd -1: none
    bool first_telegram = false; // raw writer: no comma before the first telegram

    std::array<slave_entry, slaves_table_size> slaves{};
    path_text list_path;
};

int write_raw_file(result_files& files, int id, std::span<const std::uint8_t> telegram, raw_phase phase);
int write_struct_file(result_files& files, int id, const decode::struct_header_texts& header,
                      const decode::struct_record& record);
int write_data_file(result_files& files, int id, const decode::header_texts& header,
                    const decode::decoded_record& record);
int write_slaves_file(result_files& files, int id, const search_progress& progress);
int write_ack_answer(result_files& files, int id, std::string_view response, std::string_view primary);
int write_message_answer(result_files& files, int id, std::string_view message);

// Whether the abort file was there; it and the result file are now removed.
bool check_abort_file(result_files& files, int id);

// Copies the temporary document whole (up to its end or first zero byte) into
// the result path, so that a reader sees the old document or the new one,
// never a mix. Returns 0, or -1 with errno when nothing was published.
int publish_result(const char* temp_path, const char* result_path);

// For a command whose final document never came: the result file must not go
// on showing a progress answer or a part of the work as if it were all, so it
// is removed, and that is logged at level 1 with the reason.
void drop_result(const result_files& files, int id, int line, std::string_view command, std::string_view reason);

// Before a command with a non-zero id runs: an older result file of that
// number goes, so that nothing stale passes for the command's answer. A file
// that cannot be removed is logged at level 1.
void remove_result(const result_files& files, int id, std::string_view command);

// At start: result files an earlier run left in a progress state (a slaves
// list in state "run", "Telegram N, Receive More") are removed, each logged
// at level 1. Returns how many went.
int remove_unfinished_results(result_files& files);

// Removes "mbus_create" and every hidden document left half-written (by a run
// that was killed, say). Returns how many files went.
int remove_temporary_files(result_files& files);

} // namespace velkor::results
