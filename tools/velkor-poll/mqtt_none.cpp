// velkor-poll built without libmosquitto: MQTT is refused at start.

#include "mqtt_output.h"

namespace velkor::poll {

struct mqtt_output {};

void mqtt_output_deleter::operator()(mqtt_output* m) const { delete m; }

mqtt_handle mqtt_start(const poll_config&, bool, std::string& error)
{
    error = "this velkor-poll was built without MQTT (libmosquitto was not found)";
    return nullptr;
}

void mqtt_publish_reading(mqtt_output&, const reading&, const std::string&) {}
void mqtt_service(mqtt_output&, int) {}
bool mqtt_flush(mqtt_output&, int) { return true; }
void mqtt_stop(mqtt_output&) {}

} // namespace velkor::poll
