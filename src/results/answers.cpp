// The two short answers, each written in one go.

#include "results/document_io.h"
#include "results/json_text.h"
#include "results/result_files.h"

namespace velkor::results {

int write_ack_answer(result_files& files, int id, std::string_view response, std::string_view primary)
{
    path_text path;
    const bool named = result_path(files, id, path);
    if (!named || replace_document(path.c_str(), open_tries, nullptr, [&](doc_file& out) {
            json_print(out, "{\"ack_response\":\"%s\",\"primAdr\":\"%s\"}", response, primary);
            return true;
        }) != 0) {
        report_failure(files, __LINE__, "ANSWER_ACK: could not write file %s", path.c_str());
        return -1;
    }
    trace_written("ANSWER_ACK: File %s is written\n", path.c_str());
    return 0;
}

int write_message_answer(result_files& files, int id, std::string_view message)
{
    path_text path;
    const bool named = result_path(files, id, path);
    if (!named || replace_document(path.c_str(), open_tries, nullptr, [&](doc_file& out) {
            json_print(out, "{\"data_response\":\"%s\"}", message);
            return true;
        }) != 0) {
        report_failure(files, __LINE__, "ANSWER_MSG: could not write file %s", path.c_str());
        return -1;
    }
    trace_written("ANSWER_MSG: File %s is written\n", path.c_str());
    return 0;
}

} // namespace velkor::results
