#pragma once
// A fresh daemon with a scripted bus, virtual time, and its output folder and
// log in a temporary folder: every command path runs in milliseconds.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "base/trace.h"
#include "control/daemon.h"
#include "control/dispatcher.h"
#include "support/fake_bus.h"
#include "support/test_support.h"

namespace velkor::testing {

// A long frame 68 L L 68 <body> CS 16 around the given C, A, CI and data.
inline bytes long_frame(const std::string& body_hex)
{
    const bytes body = hex(body_hex);
    const auto l = static_cast<std::uint8_t>(body.size());
    bytes f(body.size() + 6);
    f[0] = f[3] = 0x68;
    f[1] = f[2] = l;
    std::uint8_t cs = 0;
    for (std::size_t i = 0; i < body.size(); ++i) {
        f[4 + i] = body[i];
        cs = static_cast<std::uint8_t>(cs + body[i]);
    }
    f[body.size() + 4] = cs;
    f[body.size() + 5] = 0x16;
    return f;
}

// A short frame 10 C A CS 16.
inline bytes short_frame(std::uint8_t c, std::uint8_t a)
{
    return {0x10, c, a, static_cast<std::uint8_t>(c + a), 0x16};
}

// An RSP_UD of slave 12345678-AAA-1-7 (primary address a) with the records.
inline bytes rsp_ud(const std::string& records_hex, std::uint8_t a = 0x05, std::uint8_t access = 0x2A,
                    std::uint8_t status = 0x00)
{
    char head[64];
    std::snprintf(head, sizeof head, "08 %02X 72 78 56 34 12 21 04 01 07 %02X %02X 00 00 ", a, access, status);
    return long_frame(std::string(head) + records_hex);
}

inline const bytes ack{0xE5};
inline const bytes snd_nke_all = short_frame(0x40, 0xFF);
// Selection of 12345678-AAA-1-7.
inline const bytes select_slave = long_frame("53 FD 52 78 56 34 12 21 04 01 07");

struct daemon_fixture : ::testing::Test {
    temp_dir dir;
    std::unique_ptr<control::daemon_state> state = std::make_unique<control::daemon_state>();
    control::daemon_state& d = *state;
    scripted_bus bus;
    fake_clock clock;

    daemon_fixture()
    {
        ::mkdir(dir.file("out").c_str(), 0700);
        d.config.path_output.assign(dir.file("out"));
        d.log.directory.assign(dir.path);
        d.log.size = d.log.size_dev = 1 << 24;
        control::connect_daemon_state(d, bus, clock);
    }

    void run(const std::string& cmd, int id = 0, int param = 0, const std::string& sec = "12345678-AAA-1-7",
             int br = 2400, const std::string& bus_name = "/dev/ttyS0")
    {
        control::command_record r;
        put(r.bus, bus_name);
        put(r.secAdr, sec);
        put(r.cmd, cmd);
        r.id = id;
        r.br = br;
        r.param = param;
        control::dispatch_command(d, r);
    }

    // A text field as a client fills it: zero-terminated when it is shorter.
    template <std::size_t N>
    static void put(std::array<char, N>& field, const std::string& value)
    {
        std::memcpy(field.data(), value.data(), std::min(N, value.size()));
    }

    std::string result(int id) { return read_file(dir.file("out/mbus_" + std::to_string(id))); }
    bool has_result(int id) { return std::ifstream(dir.file("out/mbus_" + std::to_string(id))).good(); }

    // The messages of a log file, without time stamps and sources.
    std::vector<std::string> messages(const char* file)
    {
        std::vector<std::string> out;
        std::istringstream in(read_file(dir.file(file)));
        for (std::string line; std::getline(in, line);) {
            const auto start = line.find(" | ");
            const auto end = line.rfind(" [mbus_control / ");
            if (start != std::string::npos && end != std::string::npos)
                out.push_back(line.substr(start + 3, end - start - 3));
        }
        return out;
    }
    std::vector<std::string> main_log() { return messages("mbusLog"); }
    std::vector<std::string> dev_log() { return messages("mbusLogDev"); }

    std::vector<std::string> sent_frames()
    {
        std::vector<std::string> out;
        for (const auto& f : bus.sent)
            out.push_back(to_hex(f));
        return out;
    }
};

using strings = std::vector<std::string>;

} // namespace velkor::testing
