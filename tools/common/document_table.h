#pragma once
// Result documents as aligned text tables, for people who would rather read
// than parse JSON.

#include <string>
#include <string_view>

namespace velkor::tools {

// A data document (GET_DATA, GET_STRUCT_DATA) gives its header members and one
// row per record; a slaves list one row per slave; any other document its
// members as name and value. False when the text is not one JSON object.
bool document_table(std::string_view document, std::string& out);

// The one-line status of a command still running, from its intermediate
// document: the probe and the slaves found of a search, the telegrams of a
// readout. Empty when the document says nothing of the kind.
std::string progress_text(std::string_view document);

} // namespace velkor::tools
