#include "frame_splitter.h"

namespace velkor::sim {

namespace {

enum class fit { whole, incomplete, garbage };

// How a frame would begin at the front of p, and its length when whole.
fit frame_at_front(std::span<const std::uint8_t> p, std::size_t& length)
{
    switch (p[0]) {
    case 0xE5:
        length = 1;
        return fit::whole;
    case 0x10:
        if (p.size() < 5)
            return fit::incomplete;
        length = 5;
        return p[4] == 0x16 ? fit::whole : fit::garbage;
    case 0x68:
        if (p.size() < 4)
            return p.size() < 3 || p[1] == p[2] ? fit::incomplete : fit::garbage;
        if (p[1] != p[2] || p[3] != 0x68 || p[1] < 3)
            return fit::garbage;
        length = std::size_t{p[1]} + 6;
        if (p.size() < length)
            return fit::incomplete;
        return p[length - 1] == 0x16 ? fit::whole : fit::garbage;
    default:
        return fit::garbage;
    }
}

} // namespace

void feed(frame_splitter& s, std::span<const std::uint8_t> bytes)
{
    s.pending.insert(s.pending.end(), bytes.begin(), bytes.end());
}

bool next_frame(frame_splitter& s, std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& dropped)
{
    std::size_t skipped = 0;
    bool found = false;
    std::size_t length = 0;
    while (skipped < s.pending.size()) {
        const fit f = frame_at_front(std::span(s.pending).subspan(skipped), length);
        if (f == fit::incomplete)
            break;
        if (f == fit::whole) {
            found = true;
            break;
        }
        ++skipped;
    }
    dropped.insert(dropped.end(), s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(skipped));
    s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(skipped));
    if (!found)
        return false;
    frame.assign(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(length));
    s.pending.erase(s.pending.begin(), s.pending.begin() + static_cast<std::ptrdiff_t>(length));
    return true;
}

void abandon_pending(frame_splitter& s, std::vector<std::uint8_t>& dropped)
{
    dropped.insert(dropped.end(), s.pending.begin(), s.pending.end());
    s.pending.clear();
}

} // namespace velkor::sim
