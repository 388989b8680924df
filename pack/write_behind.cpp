#include "pack/write_behind.h"

#include <system_error>

#include "sys/signals.h"

namespace {

void write_in_turn(WriteBehind& wb) {
    std::unique_lock<std::mutex> held(wb.lock);
    for (int turn = 0;; turn ^= 1) {
        wb.changed.wait(held, [&] { return wb.full[turn] || wb.ending; });
        if (!wb.full[turn]) return;  // buffers are written in turn: nothing is left
        bool skip = wb.failed;
        held.unlock();
        std::string error;
        bool ok = skip || wb.out->write(wb.buffers[turn], wb.sizes[turn], error);
        held.lock();
        if (!ok) {
            wb.failed = true;
            wb.error = error;
        }
        wb.full[turn] = false;
        wb.changed.notify_all();
    }
}

}  // namespace

void write_behind_start(WriteBehind& wb, PayloadSink& out) {
    wb.out = &out;
    SignalHold hold;
    try {
        wb.writer = std::thread(write_in_turn, std::ref(wb));  // inherits the held mask
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): the caller's
        // thread writes each chunk as it is submitted.
    }
}

uint8_t* write_behind_buffer(WriteBehind& wb) {
    std::unique_lock<std::mutex> held(wb.lock);
    wb.changed.wait(held, [&] { return !wb.full[wb.next]; });
    return wb.buffers[wb.next];
}

void write_behind_submit(WriteBehind& wb, size_t size) {
    if (!wb.writer.joinable()) {
        if (!wb.failed && !wb.out->write(wb.buffers[wb.next], size, wb.error)) wb.failed = true;
        wb.next ^= 1;
        return;
    }
    std::lock_guard<std::mutex> held(wb.lock);
    wb.sizes[wb.next] = size;
    wb.full[wb.next] = true;
    wb.next ^= 1;
    wb.changed.notify_all();
}

bool write_behind_finish(WriteBehind& wb, std::string& error) {
    if (!wb.writer.joinable()) {
        if (wb.failed) error = wb.error;
        return !wb.failed;
    }
    {
        std::lock_guard<std::mutex> held(wb.lock);
        wb.ending = true;
        wb.changed.notify_all();
    }
    wb.writer.join();
    if (wb.failed) error = wb.error;
    return !wb.failed;
}

WriteBehind::~WriteBehind() {
    std::string ignored;
    write_behind_finish(*this, ignored);
}
