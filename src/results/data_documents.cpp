// The three readout documents. Each is built record by record (telegram by
// telegram for the raw one) in "mbus_create" and published as a whole when its
// last part is written.

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "base/trace.h"
#include "decode/header.h"
#include "results/document_io.h"
#include "results/json_text.h"
#include "results/result_files.h"

namespace velkor::results {

namespace {

constexpr std::string_view unwritten = "its final document could not be written";

// A readout that stopped early leaves its document open; the next one must
// not leak it.
void close_temp(result_files& files) { doc_discard(files.temp); }

int open_temp(result_files& files, int line, const char* failure)
{
    close_temp(files);
    files.temp.error = 0;
    path_text path;
    if (temp_path(files, path))
        files.temp.fd = open_temp_file(path.c_str());
    if (files.temp.fd < 0) {
        report_failure(files, line, failure, path.c_str());
        return -1;
    }
    return 0;
}

// The last part of a readout: closes the document and publishes it as result
// file `id`. A document that did not reach the disk whole is not published,
// and then no progress answer may stay in its place either.
int close_and_publish(result_files& files, int id, int line, const char* command, const char* failure,
                      const char* written)
{
    path_text temp;
    temp_path(files, temp);
    if (files.temp.fd < 0) {
        // Its opening failed and was reported then.
        drop_result(files, id, line, command, unwritten);
        return -1;
    }
    if (doc_close(files.temp) != 0) {
        report_failure(files, line, failure, temp.c_str());
        drop_result(files, id, line, command, unwritten);
        return -1;
    }
    path_text result;
    if (!result_path(files, id, result) || publish_result(temp.c_str(), result.c_str()) != 0) {
        text<64> publish;
        publish.format("%s: could not publish file %%s", command);
        report_failure(files, line, publish.c_str(), result.c_str());
        drop_result(files, id, line, command, unwritten);
        return -1;
    }
    trace_written(written, result.c_str());
    return 0;
}

struct record_position {
    std::int32_t tel;
    bool more_follows;
    std::int32_t rec;
    std::int32_t record_count;
};

struct document_texts {
    const char* command;
    const char* failure;
    const char* written;
};

constexpr document_texts struct_texts{"GET_STRUCT_DATA", "GET_STRUCT_DATA: could not write file %s",
                                      "GET_STRUCT_DATA: File %s is written\n"};
constexpr document_texts data_texts{"GET_DATA", "GET_DATA: could not write file %s", "GET_DATA: File %s is written\n"};

// The frame shared by the structured and the decoded document: the header with
// the first record of the first telegram, one array per telegram, one object
// per record.
template <class Header, class Record>
int write_record_document(result_files& files, int id, const record_position& at, const document_texts& texts,
                          int line, Header&& write_header, Record&& write_record)
{
    if (at.tel == 1 && at.rec == 1) {
        if (open_temp(files, line, texts.failure) == 0) {
            json_print(files.temp, "{\n");
            write_header(files.temp);
            json_print(files.temp, "\t\"records\":\n\t[\n");
        }
    }
    const bool last = at.rec == at.record_count && !at.more_follows;
    if (files.temp.fd < 0) {
        // The document could not be opened; the rest has nowhere to go.
        if (last)
            close_and_publish(files, id, line, texts.command, texts.failure, texts.written);
        return -1;
    }

    if (at.rec == 1)
        json_print(files.temp, "\t\t[\n");
    write_record(files.temp);
    if (at.rec != at.record_count)
        json_print(files.temp, ",\n");
    else if (at.more_follows)
        json_print(files.temp, "\n\t\t],\n");
    else
        json_print(files.temp, "\n\t\t]\n");

    if (last) {
        json_print(files.temp, "\t]\n}");
        return close_and_publish(files, id, line, texts.command, texts.failure, texts.written);
    }
    return 0;
}

} // namespace

int write_raw_file(result_files& files, int id, std::span<const std::uint8_t> telegram, raw_phase phase)
{
    switch (phase) {
    case raw_phase::open:
        if (open_temp(files, __LINE__, "GET_RAW_DATA: could not write file %s") != 0)
            return -1;
        json_print(files.temp, "{\"telegrams\":\n[");
        files.first_telegram = true;
        return 0;
    case raw_phase::telegram:
        if (files.temp.fd < 0)
            return -1;
        if (files.first_telegram)
            json_print(files.temp, "\"");
        else
            json_print(files.temp, ",\"");
        for (std::uint8_t b : telegram) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", static_cast<unsigned>(b));
            doc_put(files.temp, {hex, 3});
        }
        json_print(files.temp, "\"\n");
        files.first_telegram = false;
        return 0;
    case raw_phase::close:
        break;
    }
    if (files.temp.fd >= 0)
        json_print(files.temp, "\n]}");
    return close_and_publish(files, id, __LINE__, "GET_RAW_DATA", "GET_RAW_DATA: could not write file %s",
                             "GET_RAW_DATA: File %s is written\n");
}

int write_struct_file(result_files& files, int id, const decode::struct_header_texts& header,
                      const decode::struct_record& record)
{
    return write_record_document(
        files, id, {record.tel, record.more_follows != 0, record.rec, record.record_count}, struct_texts, __LINE__,
        [&](doc_file& out) {
            json_print(out, "\t\"prim_adr\":\"%s\",\n\t\"sec_adr\":\"%s\",\n\t\"access\":\"%s\",\n\t\"status\":\"%s\",\n",
                       header.primary, header.secondary, header.access, header.status);
        },
        [&](doc_file& out) {
            json_print(out, "\t\t\t{\"tel\":\"%d\", \"rec\":\"%d\", \"dif\":\"%s\",\"vif\":\"%s\", \"data\":\"%s\"}",
                       record.tel, record.rec, record.dif, record.vif, record.data);
        });
}

int write_data_file(result_files& files, int id, const decode::header_texts& header,
                    const decode::decoded_record& record)
{
    return write_record_document(
        files, id, {record.tel, record.more_follows != 0, record.rec, record.record_count}, data_texts, __LINE__,
        [&](doc_file& out) {
            std::tm now{};
            decode::get_timestamp(0, now, wait_clock(files).wall_time());
            text<32> timestamp;
            decode::format_timestamp(now, timestamp);
            json_print(out, "\t\"timestamp\":\"%s\",\n\t\"mbus_id\":\"%s\",\n\t\"access\":\"%s\",\n\t\"status\":\"%s\",\n",
                       timestamp, header.secondary, header.access, header.status);
        },
        [&](doc_file& out) {
            json_print(out, "\t\t\t{\"tel\":\"%d\", \"rec\":\"%d\", \"descriptor\":\"%s\",\"value\":\"%s\", \"unit\":\"%s\", \"extended\":\"%s\"}",
                       record.tel, record.rec, record.descriptor, record.value, record.unit, record.extended);
        });
}

} // namespace velkor::results
