// The MQTT output through libmosquitto, QoS 1, everything retained.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mosquitto.h>
#include <set>
#include <thread>
#include <unistd.h>

#include "ha_discovery.h"
#include "mqtt_output.h"

namespace velkor::poll {

using steady = std::chrono::steady_clock;

constexpr int qos = 1;
constexpr int keepalive_s = 60;
constexpr int longest_backoff_s = 60;
constexpr auto attempt_time = std::chrono::seconds(30);

struct mqtt_output {
    mosquitto* m = nullptr;
    poll_config config;
    bool once = false;
    bool connected = false;
    bool fresh = false;  // connected, but nothing sent on this connection yet
    bool tried = false;
    int backoff_s = 1;
    steady::time_point next_try{};
    steady::time_point attempt{};
    std::string failure;  // the last reason reported, so a lasting one is reported once
    // State and availability, sent again after a new connection (the broker
    // may have lost them). Discovery messages are many and large: only their
    // hashes are kept, and a new connection has them sent with the next cycle.
    std::map<std::string, std::string> retained;
    std::map<std::string, std::size_t> discovery_sent;
    std::map<std::string, std::string> discovery_waiting;  // made while there was no connection
    std::set<int> unacknowledged;
};

namespace {

void report(mqtt_output& o, const std::string& why)
{
    if (why == o.failure)
        return;
    o.failure = why;
    std::fprintf(stderr, "velkor-poll: MQTT %s:%d: %s\n", o.config.mqtt_host.c_str(), o.config.mqtt_port, why.c_str());
}

void send(mqtt_output& o, const std::string& topic, const std::string& payload)
{
    int mid = 0;
    const int rc = mosquitto_publish(o.m, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), qos,
                                      true);
    if (rc == MOSQ_ERR_SUCCESS)
        o.unacknowledged.insert(mid);
    else
        report(o, std::string("publish: ") + mosquitto_strerror(rc));
}

void publish(mqtt_output& o, const std::string& topic, const std::string& payload, bool only_if_changed)
{
    auto [at, added] = o.retained.try_emplace(topic, payload);
    if (!added) {
        if (only_if_changed && at->second == payload)
            return;
        at->second = payload;
    }
    if (o.connected && !o.fresh)
        send(o, topic, payload);
}

void on_connect(mosquitto*, void* context, int rc)
{
    auto& o = *static_cast<mqtt_output*>(context);
    if (rc != 0) {
        report(o, std::string("refused: ") + mosquitto_connack_string(rc));
        return;
    }
    o.connected = true;
    o.fresh = true;
}

// After a new connection, outside the library's callback (which holds the
// library's locks): everything retained goes out again.
void announce(mqtt_output& o)
{
    o.fresh = false;
    o.backoff_s = 1;
    if (!o.failure.empty())
        std::fprintf(stderr, "velkor-poll: MQTT %s:%d: connected\n", o.config.mqtt_host.c_str(), o.config.mqtt_port);
    o.failure.clear();
    o.unacknowledged.clear();
    o.discovery_sent.clear();
    send(o, status_topic(o.config.mqtt_prefix), "online");
    for (const auto& [topic, payload] : o.discovery_waiting) {
        send(o, topic, payload);
        o.discovery_sent[topic] = std::hash<std::string>{}(payload);
    }
    o.discovery_waiting.clear();
    for (const auto& [topic, payload] : o.retained)
        send(o, topic, payload);
}

void on_disconnect(mosquitto*, void* context, int rc)
{
    auto& o = *static_cast<mqtt_output*>(context);
    o.connected = false;
    if (rc != 0)
        report(o, "connection lost");
}

void on_publish(mosquitto*, void* context, int mid) { static_cast<mqtt_output*>(context)->unacknowledged.erase(mid); }

bool read_password(const std::string& path, std::string& password)
{
    std::ifstream in(path);
    if (!in || !std::getline(in, password))
        return false;
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n'))
        password.pop_back();
    return true;
}

// Asks for a connection once its back-off has passed.
void try_connect(mqtt_output& o)
{
    if (o.connected || steady::now() < o.next_try)
        return;
    // An attempt still under way (a slow TLS handshake) is given its time.
    if (mosquitto_socket(o.m) >= 0 && steady::now() < o.attempt + attempt_time)
        return;
    o.attempt = steady::now();
    const int rc = o.tried ? mosquitto_reconnect_async(o.m)
                           : mosquitto_connect_async(o.m, o.config.mqtt_host.c_str(), o.config.mqtt_port, keepalive_s);
    o.tried = true;
    o.next_try = steady::now() + std::chrono::seconds(o.backoff_s);
    o.backoff_s = std::min(2 * o.backoff_s, longest_backoff_s);
    if (rc != MOSQ_ERR_SUCCESS)
        report(o, rc == MOSQ_ERR_ERRNO ? std::string("connect: ") + std::strerror(errno)
                                       : std::string("connect: ") + mosquitto_strerror(rc));
}

} // namespace

void mqtt_output_deleter::operator()(mqtt_output* o) const
{
    if (o->m != nullptr)
        mosquitto_destroy(o->m);
    mosquitto_lib_cleanup();
    delete o;
}

mqtt_handle mqtt_start(const poll_config& config, bool once, std::string& error)
{
    mosquitto_lib_init();
    mqtt_handle o(new mqtt_output);
    o->config = config;
    o->once = once;
    char host[64] = "";
    ::gethostname(host, sizeof host - 1);
    const std::string id = "velkor-poll-" + std::string(host) + "-" + std::to_string(::getpid());
    o->m = mosquitto_new(id.c_str(), true, o.get());
    if (o->m == nullptr) {
        error = "cannot make an MQTT client";
        return nullptr;
    }
    if (!config.mqtt_user.empty()) {
        std::string password;
        if (!config.mqtt_password_file.empty() && !read_password(config.mqtt_password_file, password)) {
            error = "cannot read mqtt_password_file " + config.mqtt_password_file;
            return nullptr;
        }
        mosquitto_username_pw_set(o->m, config.mqtt_user.c_str(),
                                  config.mqtt_password_file.empty() ? nullptr : password.c_str());
    }
    if (!config.mqtt_ca_file.empty()) {
        const int rc = mosquitto_tls_set(o->m, config.mqtt_ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "mqtt_ca_file " + config.mqtt_ca_file + ": " + mosquitto_strerror(rc);
            return nullptr;
        }
    }
    if (!once) {
        const std::string topic = status_topic(config.mqtt_prefix);
        mosquitto_will_set(o->m, topic.c_str(), 7, "offline", qos, true);
    }
    mosquitto_connect_callback_set(o->m, on_connect);
    mosquitto_disconnect_callback_set(o->m, on_disconnect);
    mosquitto_publish_callback_set(o->m, on_publish);
    try_connect(*o);
    return o;
}

void mqtt_publish_reading(mqtt_output& o, const reading& r, const std::string& json)
{
    if (r.secondary.empty())
        return;
    const std::string& prefix = o.config.mqtt_prefix;
    if (r.ok) {
        if (o.config.ha_discovery) {
            for (mqtt_message& d : discovery_messages(r, prefix)) {
                if (!o.connected || o.fresh) {
                    o.discovery_waiting[d.topic] = std::move(d.payload);
                    continue;
                }
                const std::size_t hash = std::hash<std::string>{}(d.payload);
                auto [at, added] = o.discovery_sent.try_emplace(d.topic, hash);
                if (added || at->second != hash) {
                    at->second = hash;
                    send(o, d.topic, d.payload);
                }
            }
        }
        publish(o, meter_topic(prefix, r.secondary, "state"), json, false);
    }
    publish(o, meter_topic(prefix, r.secondary, "availability"), r.ok ? "online" : "offline", true);
}

void mqtt_service(mqtt_output& o, int timeout_ms)
{
    const auto end = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        try_connect(o);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - steady::now()).count();
        const int rc = mosquitto_loop(o.m, static_cast<int>(std::max<long long>(left, 0)), 1);
        if (o.connected && o.fresh)
            announce(o);
        if (rc != MOSQ_ERR_SUCCESS) {
            if (o.connected)
                report(o, std::string("connection lost: ") + mosquitto_strerror(rc));
            o.connected = false;
            // No socket to wait on: wait for the time that was asked.
            const auto now = steady::now();
            if (now < end)
                std::this_thread::sleep_for(std::min<steady::duration>(end - now, std::chrono::milliseconds(200)));
        }
        if (steady::now() >= end)
            return;
    }
}

bool mqtt_flush(mqtt_output& o, int timeout_ms)
{
    const auto end = steady::now() + std::chrono::milliseconds(timeout_ms);
    while (!(o.connected && !o.fresh && o.unacknowledged.empty())) {
        if (steady::now() >= end)
            return false;
        mqtt_service(o, 100);
    }
    return true;
}

void mqtt_stop(mqtt_output& o)
{
    if (o.connected && !o.once) {
        send(o, status_topic(o.config.mqtt_prefix), "offline");
        mqtt_flush(o, 2000);
    }
    if (o.connected)
        mosquitto_disconnect(o.m);
    o.connected = false;
}

} // namespace velkor::poll
