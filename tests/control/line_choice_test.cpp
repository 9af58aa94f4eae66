// Which line a record's bus name selects, and what the controller trace says.

#include <filesystem>

#include "control/daemon_fixture.h"

namespace velkor::testing {

using line_choice = daemon_fixture;

TEST_F(line_choice, NameSelectsTheConfiguredLineOrTheFileTransport)
{
    // An adapter as udev names it: a device node and a by-id link to it.
    namespace fs = std::filesystem;
    const std::string usb = dir.file("ttyUSB0"), by_id = dir.file("by-id/usb-VLK_M-Bus_Master_0042-if00-port0");
    fs::create_symlink("/dev/null", usb);
    fs::create_directory(dir.file("by-id"));
    fs::create_symlink("../ttyUSB0", by_id);
    write_file(dir.file("frames"), "");
    const std::string gateway = "tcp://192.0.2.7:10001";

    const struct {
        std::string bus_0, name;
        link::line_choice line;
        std::string why;
    } rows[] = {
        {usb, "/dev/ttyS3", link::line_choice::configured, "bus_0 " + usb + ", the name contains ttyS"},
        {gateway, "/dev/ttyS0", link::line_choice::configured, "bus_0 " + gateway + ", the name contains ttyS"},
        {usb, usb, link::line_choice::configured, "bus_0 " + usb + ", the name is bus_0"},
        {usb, by_id, link::line_choice::configured, "bus_0 " + usb + ", the same device"},
        {by_id, "/dev/null", link::line_choice::configured, "bus_0 " + by_id + ", the same device"},
        {usb, "/dev/zero", link::line_choice::file, "file transport"},
        {usb, dir.file("frames"), link::line_choice::file, "file transport"},
        {dir.file("ttyUSB1"), by_id, link::line_choice::file, "file transport"},  // bus_0's adapter is away
        {gateway, gateway, link::line_choice::configured, "bus_0 " + gateway + ", the name is bus_0"},
        {gateway, "tcp://192.0.2.7:10002", link::line_choice::file, "file transport"},
        {"", "", link::line_choice::file, "file transport"},
    };
    trace::control = 1;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bus_0 + " / " + r.name);
        d.config.serial_port_name.assign(r.bus_0);
        ::testing::internal::CaptureStdout();
        run("FUNCTION_TEST", 0, 0, "", 2400, r.name);
        const std::string out = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(r.line, d.bus.line);
        EXPECT_NE(std::string::npos, out.find("BUS = " + r.name + "\nLINE = " + r.why + "\n")) << out;
    }
    trace::control = 0;
}

} // namespace velkor::testing
