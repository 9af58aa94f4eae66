#include "ha_discovery.h"

#include <cctype>

#include "decode/header.h"

namespace velkor::poll {

namespace {

using decode::quantity;

struct sensor_class {
    const char* device_class;  // nullptr: none fits
    bool counter;              // a consumption that only grows: total_increasing
};

bool water_medium(int medium) { return medium == 6 || medium == 7 || (medium >= 0x15 && medium <= 0x17); }

// nullptr when the quantity is no reading to show (settings, dates).
const sensor_class* class_of(quantity what, int medium)
{
    static const sensor_class energy{"energy", true}, water{"water", true}, gas{"gas", true}, volume{"volume", true},
        weight{"weight", true}, counter{nullptr, true}, power{"power", false}, flow{"volume_flow_rate", false},
        temperature{"temperature", false}, plain{nullptr, false}, pressure{"pressure", false},
        running{"duration", true}, duration{"duration", false}, voltage{"voltage", false}, current{"current", false},
        frequency{"frequency", false}, reactive{"reactive_power", false}, apparent{"apparent_power", false},
        humidity{"humidity", false}, signal{"signal_strength", false};
    switch (what) {
    case quantity::energy:
        return &energy;
    case quantity::volume:
        return medium == 3 ? &gas : water_medium(medium) ? &water : &volume;
    case quantity::mass:
        return &weight;
    case quantity::hca:
    case quantity::reactive_energy:
    case quantity::apparent_energy:
        return &counter;
    case quantity::power:
        return &power;
    case quantity::volume_flow:
        return &flow;
    case quantity::flow_temperature:
    case quantity::return_temperature:
    case quantity::external_temperature:
    case quantity::temperature_limit:
        return &temperature;
    // A difference in K must not be converted as a temperature would be.
    case quantity::temperature_difference:
    case quantity::mass_flow:
    case quantity::phase_angle:
    case quantity::credit:
    case quantity::debit:
        return &plain;
    case quantity::pressure:
        return &pressure;
    case quantity::on_time:
    case quantity::operating_time:
        return &running;
    case quantity::averaging_duration:
    case quantity::actuality_duration:
    case quantity::remaining_battery_life:
        return &duration;
    case quantity::voltage:
        return &voltage;
    case quantity::current:
        return &current;
    case quantity::frequency:
        return &frequency;
    case quantity::reactive_power:
        return &reactive;
    case quantity::apparent_power:
        return &apparent;
    case quantity::relative_humidity:
        return &humidity;
    case quantity::reception_level:
        return &signal;
    case quantity::none:
    case quantity::time_point:
    case quantity::baud_rate:
    case quantity::response_delay:
        return nullptr;
    }
    return nullptr;
}

// Letters, digits and "_" only, as Home Assistant wants its ids.
std::string id_of(const std::string& s)
{
    std::string id;
    for (char c : s)
        id += std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
                                                          : '_';
    return id;
}

void member(std::string& j, const char* key, std::string_view value)
{
    j += j.back() == '{' ? "\"" : ",\"";
    j += key;
    j += "\":";
    append_json_string(j, value);
}

} // namespace

std::string meter_topic(const std::string& prefix, const std::string& secondary, const char* leaf)
{
    return prefix + "/" + secondary + "/" + leaf;
}

std::string status_topic(const std::string& prefix) { return prefix + "/status"; }

std::vector<mqtt_message> discovery_messages(const reading& r, const std::string& prefix)
{
    std::vector<mqtt_message> out;
    if (!r.ok)
        return out;
    const std::string device_id = "velkor_" + id_of(r.secondary);
    const std::string medium = decode::medium_name(static_cast<std::uint8_t>(r.medium));
    const std::string kind = medium.empty() ? "meter" : medium + " meter";

    std::string device = "{";
    device += "\"identifiers\":[";
    append_json_string(device, device_id);
    device += "]";
    member(device, "manufacturer", r.manufacturer);
    member(device, "model", kind + ", version " + std::to_string(r.version));
    member(device, "name", r.name.empty() ? kind + " " + r.secondary.substr(0, 8) : r.name);
    member(device, "serial_number", r.secondary.substr(0, 8));
    device += "}";

    std::string availability = "[{\"topic\":";
    append_json_string(availability, status_topic(prefix));
    availability += "},{\"topic\":";
    append_json_string(availability, meter_topic(prefix, r.secondary, "availability"));
    availability += "}]";

    for (const record_out& rec : r.records) {
        if (rec.kind != decode::reading_kind::number || rec.block.storage != 0 ||
            rec.block.function != decode::record_function::instantaneous)
            continue;
        const sensor_class* sc = class_of(rec.what, r.medium);
        if (sc == nullptr)
            continue;
        const std::string unique_id = device_id + "_" + rec.key;
        std::string j = "{";
        member(j, "name", rec.label);
        member(j, "unique_id", unique_id);
        member(j, "state_topic", meter_topic(prefix, r.secondary, "state"));
        member(j, "value_template", "{{ (value_json.records | selectattr('key', 'eq', '" + rec.key + "') | first).value }}");
        if (rec.unit != decode::base_unit::none)
            member(j, "unit_of_measurement", decode::unit_name(rec.unit));
        if (sc->device_class != nullptr)
            member(j, "device_class", sc->device_class);
        member(j, "state_class", sc->counter ? "total_increasing" : "measurement");
        j += ",\"availability\":" + availability + ",\"availability_mode\":\"all\",\"device\":" + device + "}";
        out.push_back({"homeassistant/sensor/" + unique_id + "/config", std::move(j)});
    }
    return out;
}

} // namespace velkor::poll
