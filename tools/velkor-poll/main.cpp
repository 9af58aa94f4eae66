// velkor-poll: reads every meter on a schedule through the daemon and
// publishes the values as numbers, as JSON lines and over MQTT.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/document_table.h"
#include "daemon_link.h"
#include "meter_list.h"
#include "meter_reading.h"
#include "mqtt_output.h"
#include "poll_config.h"
#include "velkor_version.h"

namespace {

using namespace velkor;
using namespace velkor::poll;
using steady = std::chrono::steady_clock;

constexpr int exit_failed = 1;  // --once: a meter failed; otherwise a failure at start
constexpr int exit_usage = 2;
constexpr auto readout_timeout = std::chrono::seconds(600);
constexpr auto search_timeout = std::chrono::hours(6);
constexpr int flush_timeout_ms = 10000;

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

void usage(std::FILE* out)
{
    std::fputs("usage: velkor-poll [--config PATH] [--once]\n"
               "Reads every meter of the configuration through the running velkor daemon on a\n"
               "schedule and publishes the values as numbers: JSON lines and MQTT.\n"
               "  --config PATH      the configuration (default /etc/velkor/poll.conf)\n"
               "  --once             one cycle: print the JSON lines and end; exit status 1\n"
               "                     when a meter failed\n"
               "  --help, --version  this text, the version\n",
               out);
}

// A meter that does not answer its selection leaves the daemon's
// acknowledgement answer instead of a raw document.
std::string selection_answer(const std::string& document)
{
    tools::json_value root;
    if (!tools::parse_document(document, root))
        return "";
    const tools::json_value* ack = root.member("ack_response");
    return ack != nullptr ? ack->content : "";
}

// After a time-out or with the FIFO gone the daemon is not serving us: the
// rest of the cycle fails at once with the same reason instead of waiting for
// each meter again.
reading read_meter(daemon_link& link, const target& t, command_outcome& outcome)
{
    reading r;
    r.time = utc_now();
    r.name = t.name;
    r.secondary = t.secondary;
    r.primary = t.primary;
    if (t.secondary.empty()) {
        r.error = "no meter with primary address " + std::to_string(t.primary) + " was found by the search";
        return r;
    }
    if (outcome != command_outcome::done) {
        r.error = outcome_text(outcome);
        return r;
    }
    std::string document;
    outcome = run_fenced(link, "GET_RAW_DATA", t.secondary, readout_timeout, document);
    std::vector<telegram_bytes> telegrams;
    if (outcome != command_outcome::done)
        r.error = outcome_text(outcome);
    else if (document.empty())
        r.error = "no answer";
    else if (const std::string ack = selection_answer(document); !ack.empty())
        r.error = ack == "No Answer" ? "no answer" : "its selection was answered with \"" + ack + "\"";
    else if (!raw_document_telegrams(document, telegrams))
        r.error = "the daemon's answer is no GET_RAW_DATA document";
    else
        decode_readout(telegrams, t.secondary, r);
    return r;
}

struct outputs {
    std::FILE* jsonl = nullptr;
    bool to_stdout = false;
    mqtt_handle mqtt;
    std::map<std::string, bool> last_ok;  // failures are reported when they begin and end

    void put(const reading& r)
    {
        const std::string line = reading_json(r);
        for (std::FILE* f : {to_stdout ? stdout : nullptr, jsonl}) {
            if (f != nullptr) {
                std::fputs(line.c_str(), f);
                std::fputc('\n', f);
                std::fflush(f);
            }
        }
        if (mqtt)
            mqtt_publish_reading(*mqtt, r, line);
        const std::string who = r.secondary.empty() ? "primary address " + std::to_string(r.primary) : r.secondary;
        const auto [at, first] = last_ok.try_emplace(who, r.ok);
        if ((first && !r.ok) || (!first && at->second != r.ok))
            std::fprintf(stderr, "velkor-poll: %s: %s\n", who.c_str(), r.ok ? "answers again" : r.error.c_str());
        at->second = r.ok;
    }
};

// Waits for `until`, serving MQTT meanwhile; false when a signal ends it.
bool idle_until(outputs& out, steady::time_point until)
{
    while (!stop_requested) {
        const auto now = steady::now();
        if (now >= until)
            return true;
        const int ms = static_cast<int>(
            std::min<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1, 1000));
        if (out.mqtt)
            mqtt_service(*out.mqtt, ms);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    std::string path = "/etc/velkor/poll.conf";
    bool once = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::puts("velkor-poll " VELKOR_VERSION);
            return 0;
        }
        if (arg == "--once") {
            once = true;
        } else if (arg == "--config" && i + 1 < argc) {
            path = argv[++i];
        } else if (arg.substr(0, 9) == "--config=") {
            path = std::string(arg.substr(9));
        } else {
            std::fprintf(stderr, "velkor-poll: unknown argument %s\n", argv[i]);
            usage(stderr);
            return exit_usage;
        }
    }

    poll_config config;
    std::vector<std::string> problems;
    if (!read_poll_config(path, config, problems)) {
        for (const std::string& p : problems)
            std::fprintf(stderr, "velkor-poll: %s: %s\n", path.c_str(), p.c_str());
        return exit_usage;
    }
    if (config.meters.empty() && !config.discover) {
        std::fprintf(stderr, "velkor-poll: %s: no meter= and discover=0: nothing to read\n", path.c_str());
        return exit_usage;
    }

    outputs out;
    out.to_stdout = once || config.jsonl == "-";
    if (!config.jsonl.empty() && config.jsonl != "-") {
        out.jsonl = std::fopen(config.jsonl.c_str(), "ae");
        if (out.jsonl == nullptr) {
            std::fprintf(stderr, "velkor-poll: jsonl %s: %s\n", config.jsonl.c_str(), std::strerror(errno));
            return exit_failed;
        }
    }
    if (!config.mqtt_host.empty()) {
        std::string error;
        out.mqtt = mqtt_start(config, once, error);
        if (!out.mqtt) {
            std::fprintf(stderr, "velkor-poll: %s\n", error.c_str());
            return exit_usage;
        }
    }
    if (!out.to_stdout && out.jsonl == nullptr && !out.mqtt) {
        std::fprintf(stderr, "velkor-poll: %s: nothing to publish to: set jsonl or mqtt_host\n", path.c_str());
        return exit_usage;
    }

    struct sigaction action{};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    daemon_link link;
    link.config = &config;
    link.stop = &stop_requested;
    link.watch = tools::watch_directory(config.output);
    if (out.mqtt) {
        link.wait = [&](int ms) {
            tools::wait_for_change(link.watch, std::min(ms, 200));
            mqtt_service(*out.mqtt, 0);
        };
    }

    const bool search = config.discover ||
                        std::any_of(config.meters.begin(), config.meters.end(), [](const meter_entry& m) { return m.primary >= 0; });
    std::vector<found_slave> found;
    std::map<std::string, std::string> answered;
    steady::time_point next_search = steady::now();
    bool any_failed = false;
    while (!stop_requested) {
        const auto cycle_start = steady::now();
        if (search && cycle_start >= next_search) {
            std::string document;
            const command_outcome outcome = run_fenced(link, "SLAVE_SEARCH", "", search_timeout, document);
            if (outcome == command_outcome::stopped)
                break;
            if (outcome != command_outcome::done || !search_result(document, found))
                std::fprintf(stderr, "velkor-poll: the search of the bus failed: %s\n",
                             outcome == command_outcome::done ? "no finished slaves list" : outcome_text(outcome));
            next_search = steady::now() + std::chrono::hours(config.discover_interval);
        }
        command_outcome daemon = command_outcome::done;
        for (const target& t : targets_of(config, found)) {
            if (stop_requested)
                break;
            reading r = read_meter(link, t, daemon);
            // A meter listed with wildcards fails under the address it last answered with.
            if (r.ok)
                answered[t.secondary] = r.secondary;
            else if (const auto at = answered.find(t.secondary); at != answered.end())
                r.secondary = at->second;
            if (stop_requested && !r.ok)
                break;  // cut short by the signal, not failed
            any_failed = any_failed || !r.ok;
            out.put(r);
        }
        if (once || !idle_until(out, cycle_start + std::chrono::seconds(config.interval)))
            break;
    }

    if (out.mqtt) {
        if (once && !mqtt_flush(*out.mqtt, flush_timeout_ms)) {
            std::fprintf(stderr, "velkor-poll: the MQTT broker %s:%d did not take every message\n",
                         config.mqtt_host.c_str(), config.mqtt_port);
            any_failed = true;
        }
        mqtt_stop(*out.mqtt);
    }
    if (out.jsonl != nullptr)
        std::fclose(out.jsonl);
    return once && any_failed ? exit_failed : 0;
}
