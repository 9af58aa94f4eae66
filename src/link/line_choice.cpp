#include "link/line_choice.h"

#include <string_view>
#include <sys/stat.h>

namespace velkor::link {

namespace {

// A link in /dev/serial/by-id names the adapter, whatever ttyUSB number it got.
bool same_character_device(const char* a, const char* b)
{
    struct stat sa, sb;
    return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode) &&
           sa.st_rdev == sb.st_rdev;
}

} // namespace

line_match match_bus_name(const char* bus_name, const char* bus_0)
{
    const std::string_view name = bus_name;
    if (name.find("ttyS") != std::string_view::npos)
        return line_match::ttyS_name;
    if (*bus_0 == '\0')
        return line_match::other;
    if (name == bus_0)
        return line_match::bus_0_name;
    if (same_character_device(bus_name, bus_0))
        return line_match::bus_0_device;
    return line_match::other;
}

line_choice line_for(line_match match) { return match == line_match::other ? line_choice::file : line_choice::configured; }

void describe_line(line_match match, const char* bus_0, text<320>& out)
{
    switch (match) {
    case line_match::ttyS_name: out.format("bus_0 %s, the name contains ttyS", bus_0); break;
    case line_match::bus_0_name: out.format("bus_0 %s, the name is bus_0", bus_0); break;
    case line_match::bus_0_device: out.format("bus_0 %s, the same device", bus_0); break;
    case line_match::other: out.assign("file transport"); break;
    }
}

} // namespace velkor::link
