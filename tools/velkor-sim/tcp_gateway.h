#pragma once
// The simulator as a transparent M-Bus gateway: it listens on a TCP port of
// the loopback interface and passes one client's bytes to the bus, like a
// gateway in front of a wired line of a fixed speed.

#include <cstdint>
#include <string>

namespace velkor::sim {

struct tcp_gateway {
    int listener = -1;
    int client = -1;                // the one client served
    int port = 0;                   // the port listened on
    std::uint32_t baud_rate = 2400; // the gateway's line speed
};

// Listens on 127.0.0.1:port (0: a free port, kept in gateway.port). Returns 0,
// or -1 with the reason in `error`.
int open_tcp_gateway(tcp_gateway& gateway, int port, std::string& error);

// Takes a waiting connection: as the client when none is served, otherwise
// it is closed at once. Returns what happened, for the log ("" for nothing).
std::string accept_client(tcp_gateway& gateway);

void drop_client(tcp_gateway& gateway);

void close_tcp_gateway(tcp_gateway& gateway);

} // namespace velkor::sim
