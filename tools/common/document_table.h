#pragma once
// Result documents as aligned text tables, for people who would rather read
// than parse JSON.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkor::tools {

// A result document as read: every value a string, a literal, an array or an object.
struct json_value {
    enum kind_t { scalar, text, array, object } kind = scalar;
    std::string content;  // text of a string, or the literal of a scalar
    std::vector<std::pair<std::string, json_value>> members;  // object members, or array items with empty names

    const json_value* member(std::string_view name) const
    {
        for (const auto& [key, value] : members)
            if (key == name)
                return &value;
        return nullptr;
    }
};

// False when the text is not one whole JSON object.
bool parse_document(std::string_view document, json_value& root);

// A data document (GET_DATA, GET_STRUCT_DATA) gives its header members and one
// row per record; a slaves list one row per slave; any other document its
// members as name and value. False when the text is not one JSON object.
bool document_table(std::string_view document, std::string& out);

// The one-line status of a command still running, from its intermediate
// document: the probe and the slaves found of a search, the telegrams of a
// readout. Empty when the document says nothing of the kind.
std::string progress_text(std::string_view document);

} // namespace velkor::tools
