// One accepted telegram, rendered and written record by record.

#include <cstdio>

#include "base/convert.h"
#include "base/trace.h"
#include "control/readout.h"

namespace velkor::control {

void read_data_telegram(decode::telegram_view telegram, data_telegram& t)
{
    decode::render_header(telegram, t.header);
    if (trace::control)
        std::printf("secAdr = %s   access = %s   status = %s\n", t.header.secondary.c_str(), t.header.access.c_str(),
                    t.header.status.c_str());
    t.more = decode::walk_records(telegram, t.table) != 0;
}

void write_data_telegram(results::result_files& files, int id, decode::telegram_view telegram, int tel,
                         data_telegram& t)
{
    decode::decoded_record& r = t.record;
    for (int i = 0; i < t.table.count; ++i) {
        decode::render_record(i, t.table, telegram, r.descriptor, r.unit, r.value, r.extended);
        if (trace::control)
            std::printf("%d/%d\t%s\t%s\t%s \n%s\n", tel, i + 1, r.descriptor.c_str(), r.unit.c_str(), r.value.c_str(),
                        r.extended.c_str());
        if (id != 0) {
            r.tel = tel;
            r.more_follows = t.more;
            r.rec = i + 1;
            r.record_count = t.table.count;
            results::write_data_file(files, id, t.header, r);
        }
    }
}

void read_struct_telegram(decode::telegram_view telegram, struct_telegram& t)
{
    if (trace::control) {
        decode::record_text hex;
        conv::hex_string(hex, telegram);
        std::printf("Telegramm:\n%s\n", hex.c_str());
    }
    decode::render_struct_header(telegram, t.header);
    if (trace::control)
        std::printf("primAdr = %s   secAdr = %s   access = %s   status = %s\n", t.header.primary.c_str(),
                    t.header.secondary.c_str(), t.header.access.c_str(), t.header.status.c_str());
    t.more = decode::walk_records(telegram, t.table) != 0;
}

void write_struct_telegram(results::result_files& files, int id, decode::telegram_view telegram, int tel,
                           struct_telegram& t)
{
    decode::struct_record& r = t.record;
    for (int i = 0; i < t.table.count; ++i) {
        decode::render_record_hex(i, t.table, telegram, r.dif, r.vif, r.data);
        if (trace::control)
            std::printf("%d/%d:\tDIF: %s\tVIF: %s\tDAT: %s\n", tel, i + 1, r.dif.c_str(), r.vif.c_str(), r.data.c_str());
        if (id != 0) {
            r.tel = tel;
            r.more_follows = t.more;
            r.rec = i + 1;
            r.record_count = t.table.count;
            results::write_struct_file(files, id, t.header, r);
        }
    }
}

} // namespace velkor::control
