// Cutting the master's byte stream into frames.

#include <gtest/gtest.h>

#include "model/frame_splitter.h"
#include "support/fake_bus.h"

namespace velkor::sim {
namespace {

using testing::hex;
using testing::to_hex;

// Feeds the chunks one after the other; lists every frame found and what was dropped.
std::string split(std::initializer_list<const char*> chunks, std::string* dropped_out = nullptr)
{
    frame_splitter s;
    std::string frames;
    std::vector<std::uint8_t> frame, dropped;
    for (const char* chunk : chunks) {
        feed(s, hex(chunk));
        while (next_frame(s, frame, dropped))
            frames += (frames.empty() ? "" : " | ") + to_hex(frame);
    }
    if (dropped_out)
        *dropped_out = to_hex(dropped);
    return frames;
}

TEST(frame_splitter, frames_garbage_and_chunk_boundaries)
{
    struct case_ {
        std::initializer_list<const char*> chunks;
        const char* frames;
        const char* dropped;
    } cases[] = {
        {{"10 40 FF 3F 16"}, "10 40 FF 3F 16", ""},
        {{"10 40 FF 3F 16 10 7B 05 80 16"}, "10 40 FF 3F 16 | 10 7B 05 80 16", ""},
        {{"10 7B", " 05 80", " 16"}, "10 7B 05 80 16", ""},
        {{"E5"}, "E5", ""},
        {{"00 FF 10 7B 05 80 16"}, "10 7B 05 80 16", "00 FF"},
        // A short-frame start without its stop byte is garbage; the frame behind it is found.
        {{"10 40 01 41 00 10 40 01 41 16"}, "10 40 01 41 16", "10 40 01 41 00"},
        {{"68 03 03 68 73 01 BB 2F 16"}, "68 03 03 68 73 01 BB 2F 16", ""},
        {{"68 03", " 03 68 73", " 01 BB 2F", " 16"}, "68 03 03 68 73 01 BB 2F 16", ""},
        // Unequal length bytes, and a long frame whose last byte is not 16.
        {{"68 03 04 68 10 40 01 41 16"}, "10 40 01 41 16", "68 03 04 68"},
        {{"68 03 03 68 73 01 BB 2F 17 10 40 01 41 16"}, "10 40 01 41 16", "68 03 03 68 73 01 BB 2F 17"},
        {{"10 40"}, "", ""},  // incomplete: kept for the next chunk
    };
    for (const auto& c : cases) {
        std::string dropped;
        EXPECT_EQ(c.frames, split(c.chunks, &dropped)) << *c.chunks.begin();
        EXPECT_EQ(c.dropped, dropped) << *c.chunks.begin();
    }
}

TEST(frame_splitter, abandoned_partial_frame_does_not_swallow_the_next)
{
    frame_splitter s;
    std::vector<std::uint8_t> frame, dropped;
    feed(s, hex("68 0B 0B 68 53 FD"));
    EXPECT_FALSE(next_frame(s, frame, dropped));
    abandon_pending(s, dropped);
    EXPECT_EQ("68 0B 0B 68 53 FD", to_hex(dropped));
    feed(s, hex("10 40 FF 3F 16"));
    ASSERT_TRUE(next_frame(s, frame, dropped));
    EXPECT_EQ("10 40 FF 3F 16", to_hex(frame));
}

} // namespace
} // namespace velkor::sim
