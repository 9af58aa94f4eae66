#include "link/receive.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/stop.h"
#include "base/trace.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t long_frame_start = 0x68;

unsigned long thread_number(pthread_t thread) { return static_cast<unsigned long>(thread); }

// Gathers what the line delivers into the receive buffer. An echoing level
// converter hands back the request before the answer: a leading exact copy of
// the frame just sent is taken off, whatever the answer mode. A whole answer
// is stored as it stands.
struct collector {
    bus_context& bus;
    bool whole = false;
    std::size_t echo_matched = 0;  // leading bytes equal to the frame sent so far
    bool echo_settled = false;     // the copy is off, or the bytes do not begin with one
    bool echo_removed = false;
    // Long frame: the start 0x68 L L 0x68 is looked for over every byte of
    // the exchange, whatever reads it came in.
    std::array<std::uint8_t, 4> start{};
    std::size_t start_length = 0;
    std::int32_t frame_length = 0;  // L + 6 once the start is seen
    bool complete = false;

    // Bytes past the buffer are dropped; the length counts stored bytes only.
    void store(std::uint8_t b)
    {
        if (bus.receive_length < static_cast<std::int32_t>(bus.receive_buffer.size())) {
            bus.receive_buffer[static_cast<std::size_t>(bus.receive_length)] = b;
            ++bus.receive_length;
        }
    }

    bool start_fits() const
    {
        return start[0] == long_frame_start && (start_length < 3 || start[1] == start[2]) &&
               (start_length < 4 || start[3] == long_frame_start);
    }

    // Whatever comes before the first long-frame start is noise (a late E5,
    // line garbage). The frame is complete once its length says so.
    void take_long_frame_byte(std::uint8_t b)
    {
        if (complete)
            return;
        if (frame_length == 0) {
            start[start_length++] = b;
            while (start_length > 0 && !start_fits()) {
                std::copy(start.begin() + 1, start.begin() + static_cast<std::ptrdiff_t>(start_length), start.begin());
                --start_length;
            }
            if (start_length < start.size())
                return;
            for (std::uint8_t s : start)
                store(s);
            frame_length = start[1] + 6;
            return;
        }
        store(b);
        complete = bus.receive_length >= frame_length;
    }

    void take_answer_byte(std::uint8_t b)
    {
        if (!whole && bus.answer_mode == answer_mode::long_frame)
            take_long_frame_byte(b);
        else
            store(b);
    }

    // A copy of the request that broke off was no echo: it is answer data.
    void settle_echo()
    {
        echo_settled = true;
        const auto sent = bus.sent();
        for (std::size_t i = 0; i < echo_matched; ++i)
            take_answer_byte(sent[i]);
        echo_matched = 0;
    }

    void take_byte(std::uint8_t b)
    {
        if (!echo_settled) {
            const auto sent = bus.sent();
            if (echo_matched < sent.size() && b == sent[echo_matched]) {
                if (++echo_matched == sent.size()) {
                    echo_settled = echo_removed = true;
                    echo_matched = 0;
                }
                return;
            }
            settle_echo();
        }
        take_answer_byte(b);
    }

    void take(std::span<const std::uint8_t> chunk)
    {
        for (std::uint8_t b : chunk)
            take_byte(b);
    }

    // Bytes of a long frame of known length that have not come yet.
    std::int32_t bytes_due() const { return frame_length > 0 && !complete ? frame_length - bus.receive_length : 0; }

    void finish()
    {
        if (!echo_settled)
            settle_echo();
    }

    // Bytes taken so far as the echo of the request, or as its beginning.
    std::size_t echo_bytes() const { return echo_removed ? bus.sent().size() : echo_matched; }
};

struct receive_job {
    transceiver& t;
    line_io& line;
    bus_context& bus;
    const exchange_rules& rules;
    std::int64_t sent_at_us;
    answer_timing result;
    bool completed = true;  // not stopped by the waiting side
};

constexpr std::int64_t never = INT64_MAX;

int whole_ms_up(std::int64_t us) { return us <= 0 ? 0 : static_cast<int>((us + 999) / 1000); }

// Reads until the answer is complete or over, or the waiting side stops it.
void collect(receive_job& job)
{
    transceiver& t = job.t;
    bus_context& bus = job.bus;
    const exchange_rules& rules = job.rules;
    const line_traits line = job.line.traits();
    const std::int64_t window_end = rules.window_ms > 0 ? job.sent_at_us + rules.window_ms * 1000LL : never;
    const std::int64_t quiet_us = rules.quiet_ms >= 0 ? rules.quiet_ms * 1000LL : never;
    // A line that never falls quiet ends too, once a full buffer could have come.
    std::int64_t give_up = never;
    if (window_end != never)
        give_up = window_end + wire_time_ms(bus.baud_rate, static_cast<std::int32_t>(bus_buffer_size)) * 1000LL +
                  (quiet_us == never ? 0 : quiet_us);
    // The waits for input stay short enough for a stop request to be seen soon.
    constexpr std::int64_t longest_wait_us = 10000;

    collector answer{bus, line.whole_answers};
    answer.echo_settled = line.whole_answers || bus.sent().empty();
    std::array<std::uint8_t, bus_buffer_size> chunk;
    std::size_t seen = 0;
    std::int64_t last_us = -1;          // when the last answer byte came; -1: none yet
    std::int32_t wire_waited_at = -1;  // the bytes stored when the receive last slept for the rest of a frame
    bool lost = false;
    for (;;) {
        const int n = job.line.read(chunk);
        const std::int64_t now = t.clock.monotonic_us();
        if (n < 0) {
            lost = true;
            break;
        }
        if (n > 0) {
            t.active_us = now;
            answer.take(std::span(chunk).first(static_cast<std::size_t>(n)));
            seen += static_cast<std::size_t>(n);
            if (seen > answer.echo_bytes()) {
                if (job.result.first_byte_us < 0)
                    job.result.first_byte_us = now - job.sent_at_us;
                last_us = now;
            }
        }
        if (line.whole_answers || answer.complete || bus.receive_length >= static_cast<std::int32_t>(bus_buffer_size))
            break;
        // Not complete by its length: over when quiet long enough after its
        // last byte, when none began within the window, or at the give-up.
        const std::int64_t over = last_us < 0 ? window_end : quiet_us == never ? never : last_us + quiet_us;
        const std::int64_t until = std::min(over, give_up);
        if (now >= until)
            break;
        if (rules.poll_ms > 0) {
            t.clock.sleep_ms(rules.poll_ms);
        } else if (rules.wire_time && answer.bytes_due() > 0 && bus.receive_length > wire_waited_at) {
            // Not woken per byte: the rest of the frame is due after its wire time.
            wire_waited_at = bus.receive_length;
            t.clock.sleep_ms(
                whole_ms_up(std::min(answer.bytes_due() * character_time_us(bus.baud_rate), give_up - now)));
        } else {
            job.line.wait_input(t.clock, whole_ms_up(std::min(until - now, longest_wait_us)));
        }
        if (t.stop_requested.load()) {
            job.completed = false;
            break;
        }
    }
    answer.finish();
    if (lost) {
        bus.clear_receive();  // a line that went away mid-answer leaves nothing to judge
        line_lost(t);
    }
    job.result.complete_us = t.clock.monotonic_us() - job.sent_at_us;
    if (!trace::transceiver)
        return;
    if (answer.echo_removed)
        std::printf("RX: echo of %d Bytes removed\n", static_cast<int>(bus.send_length));
    if (job.completed) {
        std::printf("RX: %d Bytes readed from %s\n", static_cast<int>(bus.receive_length), line.name);
        if (bus.receive_length > 0)
            hex_dump(bus.received());
    }
}

void* receive_thread(void* arg)
{
    auto& job = *static_cast<receive_job*>(arg);
    const bool trace_thread = trace::transceiver && !job.rules.trace_times;
    if (trace_thread)
        std::printf("Thread %lX gestartet\n", thread_number(pthread_self()));
    collect(job);
    {
        std::lock_guard lock(job.t.receive_mutex);
        job.t.receive_running.store(false);
    }
    job.t.receive_done.notify_one();
    if (trace_thread && job.completed)
        std::printf("Thread %lX regulaer beendet\n", thread_number(pthread_self()));
    return nullptr;
}

// Running before the thread exists, so a thread that has not begun yet is
// never taken for one that has finished.
bool start_receive_thread(transceiver& t, pthread_t& thread, receive_job& job)
{
    t.stop_requested.store(false);
    t.receive_running.store(true);
    const int rc = ::pthread_create(&thread, nullptr, receive_thread, &job);
    if (rc == 0)
        return true;
    t.receive_running.store(false);
    if (trace::transceiver)
        std::fprintf(stderr, "Fehler Threaderzeugung time-thread: %s\n", std::strerror(rc));
    return false;
}

} // namespace

answer_timing receive_answer(transceiver& t, bus_context& bus, const exchange_rules& rules, std::int64_t sent_at_us)
{
    const std::int64_t start_us = t.clock.monotonic_us();
    receive_job job{t, *t.line, bus, rules, sent_at_us, {}};
    pthread_t thread;
    if (!start_receive_thread(t, thread, job))
        return job.result;

    bool ended = false;
    bool stopped = false;  // the daemon is ending: no waiting out the time-out
    for (int i = 0; i < rules.slices && !ended && !stopped; ++i) {
        if (rules.wake_on_answer) {
            std::unique_lock lock(t.receive_mutex);
            t.receive_done.wait_for(lock, std::chrono::milliseconds(rules.slice_ms),
                                    [&] { return !t.receive_running.load(); });
        } else {
            t.clock.sleep_ms(rules.slice_ms);
        }
        ended = !t.receive_running.load();
        stopped = !ended && stop::is_requested();
    }
    if (!ended) {
        // The thread notices at its next poll; what it stored so far stays.
        t.stop_requested.store(true);
        if (trace::transceiver && !rules.trace_times)
            std::printf("Thread %lX zwangsweise beendet\n", thread_number(thread));
    }
    ::pthread_join(thread, nullptr);
    // Half an answer of an exchange cut short must not pass for an answer.
    if (stopped) {
        bus.clear_receive();
        t.cut_short = true;
    }
    if (trace::transceiver && !rules.trace_times)
        std::printf("timeDiff read: %d ms\n", static_cast<int>((t.clock.monotonic_us() - start_us) / 1000));
    job.result.ended = ended;
    return job.result;
}

} // namespace velkor::link
