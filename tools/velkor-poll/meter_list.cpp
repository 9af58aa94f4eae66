#include "meter_list.h"

#include <algorithm>
#include <cstdlib>

#include "common/document_table.h"

namespace velkor::poll {

bool search_result(const std::string& document, std::vector<found_slave>& out)
{
    tools::json_value root;
    if (!tools::parse_document(document, root))
        return false;
    const tools::json_value* state = root.member("state");
    const tools::json_value* slaves = root.member("slaves");
    if (state == nullptr || state->content != "end" || slaves == nullptr)
        return false;
    out.clear();
    for (const auto& [unused, slave] : slaves->members) {
        const tools::json_value* sec = slave.member("sec_address");
        const tools::json_value* prim = slave.member("prim_address");
        if (sec == nullptr)
            continue;
        found_slave f{sec->content, -1};
        if (prim != nullptr && !prim->content.empty())
            f.primary = std::atoi(prim->content.c_str());
        out.push_back(f);
    }
    return true;
}

std::vector<target> targets_of(const poll_config& c, const std::vector<found_slave>& found)
{
    std::vector<target> out;
    const auto listed = [&](const std::string& sec) {
        return std::any_of(out.begin(), out.end(), [&](const target& t) { return !sec.empty() && t.secondary == sec; });
    };
    for (const meter_entry& m : c.meters) {
        target t{m.secondary, m.primary, m.name};
        if (m.primary >= 0)
            for (const found_slave& f : found)
                if (f.primary == m.primary)
                    t.secondary = f.secondary;
        if (!listed(t.secondary) || t.secondary.empty())
            out.push_back(t);
    }
    if (c.discover)
        for (const found_slave& f : found)
            if (!listed(f.secondary))
                out.push_back({f.secondary, -1, ""});
    return out;
}

} // namespace velkor::poll
