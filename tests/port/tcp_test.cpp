// The gateway address in bus_0: what is a gateway, and how it splits.

#include <gtest/gtest.h>

#include "port/tcp.h"

namespace velkor::testing {
namespace {

TEST(tcp_address, splits_host_and_port_and_refuses_the_rest)
{
    const struct {
        const char* address;
        bool valid;
        const char* host;
        int port;
    } rows[] = {
        {"192.0.2.7:10001", true, "192.0.2.7", 10001},
        {"gateway.local:1", true, "gateway.local", 1},
        {"[fd00::5]:65535", true, "fd00::5", 65535},
        {"192.0.2.7", false, "", 0},
        {"192.0.2.7:", false, "", 0},
        {":10001", false, "", 0},
        {"192.0.2.7:0", false, "", 0},
        {"192.0.2.7:65536", false, "", 0},
        {"192.0.2.7:100x", false, "", 0},
        {"192.0.2.7:+1", false, "", 0},
        {"fd00::5:10001", false, "", 0},
        {"[fd00::5]10001", false, "", 0},
        {"[]:10001", false, "", 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.address);
        text<256> host("unchanged");
        int port = -1;
        EXPECT_EQ(r.valid, port::split_tcp_address(r.address, host, port));
        EXPECT_EQ(r.valid ? r.host : "unchanged", host.view());
        EXPECT_EQ(r.valid ? r.port : -1, port);
    }
    for (const char* name : {"tcp://192.0.2.7:10001", "tcp://"})
        EXPECT_TRUE(port::is_tcp_name(name)) << name;
    for (const char* name : {"/dev/ttyUSB0", "TCP://192.0.2.7:10001", "tcp:/x", ""})
        EXPECT_FALSE(port::is_tcp_name(name)) << name;
}

} // namespace
} // namespace velkor::testing
