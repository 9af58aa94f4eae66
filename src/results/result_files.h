#pragma once
// The JSON documents left for clients in the output directory: raw telegrams,
// structured records, decoded records, the slaves list, the acknowledgement
// answer and the message answer; the temporary file "mbus_create" and the
// abort file.

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "decode/header.h"
#include "decode/records.h"
#include "log/clock.h"
#include "log/log.h"
#include "log/text.h"

namespace velkor::results {

// What the slave search and the address listing hand to the slaves-list writer.
struct search_progress {
    std::int32_t count = 0;
    text<32> secondary;
    text<32> primary;
    text<32> progress;
    std::int32_t phase = 0;  // 0 start, 1 one more entry, 2 end
};

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
    const log::log_settings* log = nullptr;  // failures are logged with the controller trace on
    velkor::clock* clock = nullptr;          // time stamp of the decoded document

    std::FILE* temp = nullptr;   // "mbus_create" of the readout in progress
    bool first_telegram = false; // raw writer: no comma before the first telegram

    std::array<slave_entry, slaves_table_size> slaves{};
    path_text list_path;
};

int write_raw_file(result_files& files, int id, std::span<const std::uint8_t> telegram, int phase);
int write_struct_file(result_files& files, int id, const decode::struct_header_texts& header,
                      const decode::struct_record& record);
int write_data_file(result_files& files, int id, const decode::header_texts& header,
                    const decode::decoded_record& record);
int write_slaves_file(result_files& files, int id, const search_progress& progress);
int write_ack_answer(result_files& files, int id, std::string_view response, std::string_view primary);
int write_message_answer(result_files& files, int id, std::string_view message);

// 1 when the abort file was there (it and the result file are now removed), else 0.
int check_abort_file(result_files& files, int id);

// Copies the temporary document whole (up to its end or first zero byte) into
// the result path, so that a reader sees the old document or the new one,
// never a mix. Returns 0, or -1 when nothing was published.
int publish_result(const char* temp_path, const char* result_path);

} // namespace velkor::results
