#pragma once
// The MQTT output, driven from the main thread: no thread of the library's
// own, so nothing is shared. Built with libmosquitto where it was found;
// without it mqtt_start refuses.

#include <memory>
#include <string>

#include "meter_reading.h"
#include "poll_config.h"

namespace velkor::poll {

struct mqtt_output;

struct mqtt_output_deleter {
    void operator()(mqtt_output* m) const;
};
using mqtt_handle = std::unique_ptr<mqtt_output, mqtt_output_deleter>;

// Starts connecting (the connection completes in mqtt_service). With `once`
// no last will is left: a cron run ends without marking the meters offline.
mqtt_handle mqtt_start(const poll_config& config, bool once, std::string& error);

// Retained state and availability of the meter, and its discovery messages
// when they changed. A reading without a secondary address goes nowhere.
void mqtt_publish_reading(mqtt_output& m, const reading& r, const std::string& json);

// Network traffic, and a new connection with back-off when it was lost;
// returns after at most timeout_ms.
void mqtt_service(mqtt_output& m, int timeout_ms);

// Waits until the broker has every message; false when it could not have them
// within timeout_ms.
bool mqtt_flush(mqtt_output& m, int timeout_ms);

// Says "offline" for velkor-poll (not after a run with `once`) and disconnects.
void mqtt_stop(mqtt_output& m);

} // namespace velkor::poll
