#pragma once
// Cuts the byte stream a master sends into frames: the single character E5,
// short frames 10 C A CS 16 and long frames 68 L L 68 ... 16 of L + 6 bytes.
// Bytes that cannot start a frame are dropped one by one until a frame start
// lines up again.

#include <cstdint>
#include <span>
#include <vector>

namespace velkor::sim {

struct frame_splitter {
    std::vector<std::uint8_t> pending;  // received, not yet part of a frame
};

void feed(frame_splitter& s, std::span<const std::uint8_t> bytes);

// Takes the next whole frame out of the pending bytes into `frame` and
// returns true; returns false when more bytes are needed. Bytes skipped while
// resynchronising are appended to `dropped`.
bool next_frame(frame_splitter& s, std::vector<std::uint8_t>& frame, std::vector<std::uint8_t>& dropped);

// Gives up a frame that never completed (the line went quiet): moves the
// pending bytes to `dropped`.
void abandon_pending(frame_splitter& s, std::vector<std::uint8_t>& dropped);

} // namespace velkor::sim
