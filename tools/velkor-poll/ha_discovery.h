#pragma once
// Topics and payloads of the MQTT output: a retained state and availability
// per meter, and Home Assistant discovery for its current values.

#include <string>
#include <vector>

#include "meter_reading.h"

namespace velkor::poll {

struct mqtt_message {
    std::string topic;
    std::string payload;
};

// <prefix>/<secondary address>/<leaf>
std::string meter_topic(const std::string& prefix, const std::string& secondary, const char* leaf);
// <prefix>/status: velkor-poll itself, "online" or "offline".
std::string status_topic(const std::string& prefix);

// homeassistant/sensor/<unique id>/config for each current value of the
// reading that is a number (storage 0, instantaneous).
std::vector<mqtt_message> discovery_messages(const reading& r, const std::string& prefix);

} // namespace velkor::poll
