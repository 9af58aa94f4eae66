#pragma once
// /etc/velkor/poll.conf: the same key=value syntax as mbus.conf, read by the
// same reader.

#include <string>
#include <vector>

namespace velkor::poll {

// A meter by its secondary address (as the daemon writes it, wildcards
// allowed) or by its primary address, which a search resolves.
struct meter_entry {
    std::string secondary;
    int primary = -1;  // 0..250 when given by primary address
    std::string name;
};

struct poll_config {
    std::string fifo = "/run/velkor/cmd.fifo";
    std::string output = "/run/velkor/out";
    std::string bus = "/dev/ttyS0";
    int br = 2400;
    int interval = 900;  // seconds between the starts of two cycles
    int id_base = 9000;  // result numbers id_base .. id_base + 2
    std::vector<meter_entry> meters;
    bool discover = false;
    int discover_interval = 24;  // hours
    std::string jsonl;           // "-": standard output
    std::string mqtt_host;       // empty: no MQTT
    int mqtt_port = 1883;
    std::string mqtt_user;
    std::string mqtt_password_file;
    std::string mqtt_ca_file;
    std::string mqtt_prefix = "velkor";
    bool ha_discovery = true;
};

// False with a message for each bad value (line numbers are not known to the
// reader, so the message names the key and value).
bool read_poll_config(const std::string& path, poll_config& out, std::vector<std::string>& problems);

// "12345678-ABC-1-7": eight hex digits, three letters, version and medium in decimal.
bool is_secondary_address(const std::string& text);

} // namespace velkor::poll
