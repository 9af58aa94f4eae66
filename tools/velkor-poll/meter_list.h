#pragma once
// Which meters a cycle reads: the configured ones, primary addresses resolved
// by the last search, and with discover=1 every other slave it found.

#include <string>
#include <vector>

#include "poll_config.h"

namespace velkor::poll {

// One meter to read: by secondary address, or by a primary address the
// search has not resolved (secondary empty).
struct target {
    std::string secondary;
    int primary = -1;
    std::string name;
};

struct found_slave {
    std::string secondary;
    int primary = -1;
};

// The slaves of a finished SLAVE_SEARCH; false when the document is no
// slaves list in state "end".
bool search_result(const std::string& document, std::vector<found_slave>& out);

std::vector<target> targets_of(const poll_config& c, const std::vector<found_slave>& found);

} // namespace velkor::poll
