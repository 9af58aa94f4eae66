#include "link/receive.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "log/stop.h"
#include "log/trace.h"
#include "port/file_transport.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t long_frame_start = 0x68;

unsigned long thread_number(pthread_t thread) { return static_cast<unsigned long>(thread); }

// Gathers what the line delivers into the receive buffer. An echoing level
// converter hands back the request before the answer: a leading exact copy of
// the frame just sent is taken off, whatever the answer mode.
struct collector {
    bus_context& bus;
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
        if (bus.answer_mode == answer_mode::long_frame)
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

    // Returns true when the answer is complete: a long frame at its length,
    // anything else at the first quiet poll after data.
    bool take(std::span<const std::uint8_t> chunk)
    {
        for (std::uint8_t b : chunk)
            take_byte(b);
        if (bus.answer_mode == answer_mode::long_frame)
            return complete;
        return chunk.empty() && bus.receive_length > 0;
    }

    void finish()
    {
        if (!echo_settled)
            settle_echo();
    }

    // Bytes taken so far as the echo of the request, or as its beginning.
    std::size_t echo_bytes() const { return echo_removed ? bus.sent().size() : echo_matched; }
};

// Polls the line until the answer is complete. Returns false when stopped by
// the waiting thread first.
bool collect_from_line(transceiver& t, bus_context& bus)
{
    const int interval = poll_interval_ms(bus.baud_rate);
    collector answer{bus};
    answer.echo_settled = bus.sent().empty();
    std::array<std::uint8_t, bus_buffer_size> chunk;
    bool completed = true;
    bool lost = false;
    for (;;) {
        const int n = t.line.read(chunk);
        if (n < 0) {
            lost = true;
            break;
        }
        if (answer.take(std::span(chunk).first(n > 0 ? static_cast<std::size_t>(n) : 0)))
            break;
        t.clock.sleep_ms(interval);
        if (t.stop_requested.load()) {
            completed = false;
            break;
        }
    }
    answer.finish();
    if (lost) {
        bus.clear_receive();  // a line that went away mid-answer leaves nothing to judge
        line_lost(t);
    }
    if (!trace::transceiver)
        return completed;
    if (answer.echo_removed)
        std::printf("RX: echo of %d Bytes removed\n", static_cast<int>(bus.send_length));
    if (completed) {
        std::printf("RX: %d Bytes readed from MBus\n", static_cast<int>(bus.receive_length));
        if (bus.receive_length > 0)
            hex_dump(bus.received());
    }
    return completed;
}

// One read of whatever the file holds; a failed read is no answer.
void collect_from_file(bus_context& bus)
{
    const int n = port::file_transport_read(bus.bus_name.c_str(), bus.receive_buffer);
    bus.receive_length = n > 0 ? n : 0;
    if (trace::transceiver) {
        std::printf("RX: %d Bytes readed from File-IO\n", static_cast<int>(bus.receive_length));
        if (bus.receive_length > 0)
            hex_dump(bus.received());
    }
}

struct receive_job {
    transceiver& t;
    bus_context& bus;
};

void* receive_thread(void* arg)
{
    auto& job = *static_cast<receive_job*>(arg);
    if (trace::transceiver)
        std::printf("Thread %lX gestartet\n", thread_number(pthread_self()));

    bool completed = true;
    if (on_configured_line(job.bus))
        completed = collect_from_line(job.t, job.bus);
    else
        collect_from_file(job.bus);

    job.t.receive_running.store(false);
    if (completed && trace::transceiver)
        std::printf("Thread %lX regulaer beendet\n", thread_number(pthread_self()));
    return nullptr;
}

struct window_job {
    transceiver& t;
    bus_context& bus;
    std::int64_t sent_at_us;
    answer_timing result;
};

int whole_ms_up(std::int64_t us) { return us <= 0 ? 0 : static_cast<int>((us + 999) / 1000); }

void collect_in_window(window_job& job)
{
    transceiver& t = job.t;
    bus_context& bus = job.bus;
    const bool long_frame = bus.answer_mode == answer_mode::long_frame;
    const std::int64_t window_end = job.sent_at_us + answer_window_ms(bus.baud_rate, t.timing.margin_ms) * 1000LL;
    const std::int64_t quiet_us =
        (long_frame ? answer_gap_ms(bus.baud_rate, t.timing.margin_ms) : quiet_end_ms(bus.baud_rate)) * 1000LL;
    // A line that never falls quiet ends too, once a full buffer could have come.
    const std::int64_t give_up =
        window_end + wire_time_ms(bus.baud_rate, static_cast<std::int32_t>(bus_buffer_size)) * 1000LL + quiet_us;
    // The waits stay short enough for a stop request to be seen soon.
    constexpr std::int64_t longest_wait_us = 10000;

    collector answer{bus};
    answer.echo_settled = bus.sent().empty();
    std::array<std::uint8_t, bus_buffer_size> chunk;
    std::size_t seen = 0;
    std::int64_t last_us = 0;
    bool lost = false;
    for (;;) {
        const int n = t.line.read(chunk);
        const std::int64_t now = t.clock.monotonic_us();
        if (n < 0) {
            lost = true;  // gone mid-answer: nothing to judge
            break;
        }
        if (n > 0) {
            answer.take(std::span(chunk).first(static_cast<std::size_t>(n)));
            seen += static_cast<std::size_t>(n);
            if (seen > answer.echo_bytes()) {
                if (job.result.first_byte_us < 0)
                    job.result.first_byte_us = now - job.sent_at_us;
                last_us = now;
            }
            if ((long_frame && answer.complete) || bus.receive_length >= static_cast<std::int32_t>(bus_buffer_size))
                break;
        }
        std::int64_t until = job.result.first_byte_us < 0 ? window_end : last_us + quiet_us;
        if (until > give_up)
            until = give_up;
        if (now >= until || t.stop_requested.load())
            break;
        t.line.wait_input(t.clock, whole_ms_up(until - now < longest_wait_us ? until - now : longest_wait_us));
    }
    answer.finish();
    if (lost) {
        bus.clear_receive();
        line_lost(t);
    }
    job.result.complete_us = t.clock.monotonic_us() - job.sent_at_us;
    if (!trace::transceiver)
        return;
    if (answer.echo_removed)
        std::printf("RX: echo of %d Bytes removed\n", static_cast<int>(bus.send_length));
    std::printf("RX: %d Bytes readed from MBus\n", static_cast<int>(bus.receive_length));
    if (bus.receive_length > 0)
        hex_dump(bus.received());
}

void* window_thread(void* arg)
{
    auto& job = *static_cast<window_job*>(arg);
    if (on_configured_line(job.bus)) {
        collect_in_window(job);
    } else {
        collect_from_file(job.bus);
        if (job.bus.receive_length > 0)
            job.result.first_byte_us = job.result.complete_us = job.t.clock.monotonic_us() - job.sent_at_us;
    }
    {
        std::lock_guard lock(job.t.receive_mutex);
        job.t.receive_running.store(false);
    }
    job.t.receive_done.notify_one();
    return nullptr;
}

// Running before the thread exists, so a thread that has not begun yet is
// never taken for one that has finished.
bool start_receive_thread(transceiver& t, pthread_t& thread, void* (*body)(void*), void* job)
{
    t.stop_requested.store(false);
    t.receive_running.store(true);
    const int rc = ::pthread_create(&thread, nullptr, body, job);
    if (rc == 0)
        return true;
    t.receive_running.store(false);
    if (trace::transceiver)
        std::fprintf(stderr, "Fehler Threaderzeugung time-thread: %s\n", std::strerror(rc));
    return false;
}

} // namespace

answer_timing receive_in_window(transceiver& t, bus_context& bus, std::int64_t sent_at_us)
{
    window_job job{t, bus, sent_at_us, {}};
    pthread_t thread;
    if (!start_receive_thread(t, thread, window_thread, &job))
        return job.result;
    // The thread ends by itself at the latest when its window and the longest
    // answer have passed; the bound here only covers a line that hangs.
    const int backstop_ms = answer_window_ms(bus.baud_rate, t.timing.margin_ms) +
                            2 * wire_time_ms(bus.baud_rate, static_cast<std::int32_t>(bus_buffer_size)) + 1000;
    {
        std::unique_lock lock(t.receive_mutex);
        if (!t.receive_done.wait_for(lock, std::chrono::milliseconds(backstop_ms),
                                     [&] { return !t.receive_running.load(); }))
            t.stop_requested.store(true);
    }
    ::pthread_join(thread, nullptr);
    return job.result;
}

bool receive_answer(transceiver& t, bus_context& bus)
{
    const std::int64_t start_us = t.clock.monotonic_us();

    receive_job job{t, bus};
    pthread_t thread;
    if (!start_receive_thread(t, thread, receive_thread, &job))
        return false;

    const int slice = t.timeout_ms / 10;
    bool answered = false;
    bool stopped = false;  // the daemon is ending: no waiting out the time-out
    for (int i = 0; i < 10 && !answered && !stopped; ++i) {
        t.clock.sleep_ms(slice);
        answered = !t.receive_running.load();
        stopped = !answered && stop::is_requested();
    }
    if (!answered) {
        // The thread notices at its next poll; what it stored so far stays.
        t.stop_requested.store(true);
        if (trace::transceiver)
            std::printf("Thread %lX zwangsweise beendet\n", thread_number(thread));
    }
    ::pthread_join(thread, nullptr);
    // Half an answer of an exchange cut short must not pass for an answer.
    if (stopped) {
        bus.clear_receive();
        t.cut_short = true;
    }

    if (trace::transceiver)
        std::printf("timeDiff read: %d ms\n", static_cast<int>((t.clock.monotonic_us() - start_us) / 1000));
    return answered;
}

} // namespace velkor::link
