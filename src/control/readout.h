#pragma once
// One accepted telegram of a readout, from its bytes to the result document.
// Shared by the readout commands and the offline decoder, so both write the
// very same documents.

#include "decode/header.h"
#include "decode/records.h"
#include "results/result_files.h"

namespace velkor::control {

struct data_telegram {
    decode::header_texts header;
    decode::record_table table;
    decode::decoded_record record;
    bool more = false;  // further telegrams announced (DIF 0x1F)
};

struct struct_telegram {
    decode::struct_header_texts header;
    decode::record_table table;
    decode::struct_record record;
    bool more = false;
};

// Renders the header and walks the records; t.more is the walk's flag.
void read_data_telegram(decode::telegram_view telegram, data_telegram& t);
void read_struct_telegram(decode::telegram_view telegram, struct_telegram& t);

// Renders every record of telegram number tel and, with an id, hands it to
// the document writer; t.more decides whether the document stays open.
void write_data_telegram(results::result_files& files, int id, decode::telegram_view telegram, int tel,
                         data_telegram& t);
void write_struct_telegram(results::result_files& files, int id, decode::telegram_view telegram, int tel,
                           struct_telegram& t);

} // namespace velkor::control
