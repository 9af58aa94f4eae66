#include "link/receive.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "log/stop.h"
#include "log/trace.h"
#include "port/file_transport.h"

namespace velkor::link {

namespace {

constexpr std::uint8_t long_frame_start = 0x68;
constexpr std::uint8_t frame_stop = 0x16;

unsigned long thread_number(pthread_t thread) { return static_cast<unsigned long>(thread); }

// Gathers the chunks read from the line into the receive buffer.
struct collector {
    bus_context& bus;
    bool started = false;  // long frame: its start 0x68 L L 0x68 has been seen

    // Bytes past the buffer are dropped; the length counts stored bytes only.
    void store(std::uint8_t b)
    {
        if (bus.receive_length < static_cast<std::int32_t>(bus.receive_buffer.size())) {
            bus.receive_buffer[static_cast<std::size_t>(bus.receive_length)] = b;
            ++bus.receive_length;
        }
    }

    std::uint8_t last_stored() const
    {
        return bus.receive_length > 0 ? bus.receive_buffer[static_cast<std::size_t>(bus.receive_length - 1)] : 0;
    }

    // Whatever comes before the long-frame start is noise (a late E5, an
    // echo, line garbage); the start is recognised only within one chunk.
    // The frame is over at the first quiet poll after its stop byte.
    bool take_long_frame(std::span<const std::uint8_t> chunk)
    {
        if (chunk.empty())
            return started && last_stored() == frame_stop;
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (!started) {
                if (chunk[i] != long_frame_start || i + 3 >= chunk.size() || chunk[i + 1] != chunk[i + 2] ||
                    chunk[i + 3] != long_frame_start)
                    continue;
                started = true;
            }
            store(chunk[i]);
            if (bus.receive_length > longest_long_frame)
                break;
        }
        return false;
    }

    // Everything counts; the answer is over at the first quiet poll after data.
    bool take_any(std::span<const std::uint8_t> chunk)
    {
        if (chunk.empty())
            return bus.receive_length > 0;
        for (std::uint8_t b : chunk)
            store(b);
        return false;
    }

    // Returns true when the answer is complete.
    bool take(std::span<const std::uint8_t> chunk)
    {
        return bus.answer_mode == answer_long ? take_long_frame(chunk) : take_any(chunk);
    }
};

// Polls the line until the answer is complete. Returns false when stopped by
// the waiting thread first.
bool collect_from_line(transceiver& t, bus_context& bus)
{
    const int interval = poll_interval_ms(bus.baud_rate);
    collector answer{bus};
    std::array<std::uint8_t, bus_buffer_size> chunk;
    for (;;) {
        const int n = t.line.read(chunk);
        if (answer.take(std::span(chunk).first(n > 0 ? static_cast<std::size_t>(n) : 0)))
            break;
        t.clock.sleep_ms(interval);
        if (t.stop_requested.load())
            return false;
    }
    if (trace::transceiver) {
        std::printf("RX: %d Bytes readed from MBus\n", static_cast<int>(bus.receive_length));
        if (bus.receive_length > 0)
            hex_dump(bus.received());
    }
    return true;
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
    if (is_serial_bus(job.bus))
        completed = collect_from_line(job.t, job.bus);
    else
        collect_from_file(job.bus);

    job.t.receive_running.store(false);
    if (completed && trace::transceiver)
        std::printf("Thread %lX regulaer beendet\n", thread_number(pthread_self()));
    return nullptr;
}

} // namespace

bool receive_answer(transceiver& t, bus_context& bus)
{
    const std::int64_t start_us = t.clock.monotonic_us();

    // Running before the thread exists, so a thread that has not begun yet is
    // never taken for one that has finished.
    t.stop_requested.store(false);
    t.receive_running.store(true);
    receive_job job{t, bus};
    pthread_t thread;
    const int rc = ::pthread_create(&thread, nullptr, receive_thread, &job);
    if (rc != 0) {
        t.receive_running.store(false);
        if (trace::transceiver)
            std::fprintf(stderr, "Fehler Threaderzeugung time-thread: %s\n", std::strerror(rc));
        return false;
    }

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
