#pragma once
// A transparent M-Bus gateway reached over TCP: the serial line's bytes pass
// through one socket. A lost or refused connection is reported once, as a
// lost serial device is, and its return once more.

#include <string_view>

#include "base/log.h"
#include "base/text.h"

namespace velkor::port {

inline constexpr std::string_view tcp_scheme = "tcp://";
inline constexpr int tcp_connect_timeout_ms = 3000;

struct tcp_port {
    int fd = -1;
    text<256> address;  // HOST:PORT, as bus_0 gives it after "tcp://"
    const log::log_settings* log = nullptr;
    bool lost = false;  // the loss is reported and the return is not yet
};

// bus_0 names a gateway: "tcp://HOST:PORT".
bool is_tcp_name(std::string_view name);

// Splits HOST:PORT; an IPv6 host stands in brackets ("[fd00::5]:10001").
// false unless the host is there and the port is 1 to 65535.
bool split_tcp_address(std::string_view address, text<256>& host, int& port_number);

// Connects to the gateway named by "tcp://HOST:PORT" within
// tcp_connect_timeout_ms. Returns the descriptor (also kept in port.fd) or -1
// after logging "TCP: HOST:PORT lost: <reason>".
int tcp_open(tcp_port& port, const char* name, const log::log_settings& log);

// Connects a closed port again. After a reported loss, success logs
// "TCP: HOST:PORT open again" and a failure is silent. Returns the descriptor or -1.
int tcp_reopen(tcp_port& port);

// The connection is gone (error 0: the gateway closed it): closes the socket
// and logs "TCP: HOST:PORT lost: <reason>" unless the loss is reported already.
void tcp_lost(tcp_port& port, int error);

void tcp_close(tcp_port& port);

} // namespace velkor::port
