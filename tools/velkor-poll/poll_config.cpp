#include "poll_config.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "base/config_file.h"
#include "base/convert.h"

namespace velkor::poll {

namespace {

bool decimal_field(std::string_view text)
{
    int unused;
    return conv::whole_number(text, 0, 255, unused);
}

// "ADDRESS[,name=NAME]"
bool read_meter(std::string_view value, meter_entry& m)
{
    const std::size_t comma = value.find(',');
    const std::string_view address = value.substr(0, comma);
    if (comma != std::string_view::npos) {
        const std::string_view rest = value.substr(comma + 1);
        if (rest.substr(0, 5) != "name=" || rest.size() == 5)
            return false;
        m.name = std::string(rest.substr(5));
    }
    if (conv::whole_number(address, 0, 250, m.primary))
        return true;
    m.secondary = std::string(address);
    return is_secondary_address(m.secondary);
}

} // namespace

bool is_secondary_address(const std::string& text)
{
    // 8 hex digits '-' 3 letters '-' version '-' medium
    if (text.size() < 16 || text[8] != '-' || text[12] != '-')
        return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    for (std::size_t i = 9; i < 12; ++i)
        if (text[i] < '@' || text[i] > 'Z')
            return false;
    const std::size_t hyphen = text.find('-', 13);
    return hyphen != std::string::npos && decimal_field(std::string_view(text).substr(13, hyphen - 13)) &&
           decimal_field(std::string_view(text).substr(hyphen + 1));
}

bool read_poll_config(const std::string& path, poll_config& c, std::vector<std::string>& problems)
{
    const auto bad = [&](std::string_view key, std::string_view value, const char* why) {
        problems.push_back(std::string(key) + "=" + std::string(value) + ": " + why);
    };
    const auto number = [&](std::string_view key, std::string_view value, int low, int high, int& out) {
        if (!conv::whole_number(value, low, high, out))
            bad(key, value, ("a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                             " is needed").c_str());
    };
    const int rc = log::for_each_config_token(path.c_str(), [&](std::string_view key, std::string_view value) {
        int flag = 0;
        if (key == "fifo")
            c.fifo = std::string(value);
        else if (key == "output")
            c.output = std::string(value);
        else if (key == "bus")
            c.bus = std::string(value);
        else if (key == "br")
            number(key, value, 300, 38400, c.br);
        else if (key == "interval")
            number(key, value, 1, 7 * 86400, c.interval);
        else if (key == "id_base")
            number(key, value, 1, 2000000000, c.id_base);
        else if (key == "meter") {
            meter_entry m;
            if (read_meter(value, m))
                c.meters.push_back(m);
            else
                bad(key, value, "a secondary address such as 12345678-ABC-1-7 or a primary address 0..250, "
                                "optionally followed by ,name=NAME");
        } else if (key == "discover") {
            number(key, value, 0, 1, flag);
            c.discover = flag == 1;
        } else if (key == "discover_interval")
            number(key, value, 1, 24 * 365, c.discover_interval);
        else if (key == "jsonl")
            c.jsonl = std::string(value);
        else if (key == "mqtt_host")
            c.mqtt_host = std::string(value);
        else if (key == "mqtt_port")
            number(key, value, 1, 65535, c.mqtt_port);
        else if (key == "mqtt_user")
            c.mqtt_user = std::string(value);
        else if (key == "mqtt_password_file")
            c.mqtt_password_file = std::string(value);
        else if (key == "mqtt_ca_file")
            c.mqtt_ca_file = std::string(value);
        else if (key == "mqtt_prefix") {
            if (value.empty() || value.find_first_of("#+") != std::string_view::npos)
                bad(key, value, "a topic level without # and +");
            else
                c.mqtt_prefix = std::string(value);
        } else if (key == "ha_discovery") {
            flag = c.ha_discovery ? 1 : 0;
            number(key, value, 0, 1, flag);
            c.ha_discovery = flag == 1;
        }
    });
    if (rc != 0) {
        problems.push_back(path + ": " + std::strerror(errno));
        return false;
    }
    return problems.empty();
}

} // namespace velkor::poll
