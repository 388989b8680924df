// Writes the OTA file on a second thread, so that writing one chunk overlaps
// reading and checksumming the next: the two copies a chunk takes (into the
// tool, out to the file) then cost about as much time as one. Two buffers
// take turns. Used for the uncompressed payload; xz is already a process of
// its own.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "pack/payload.h"

struct WriteBehind {
    PayloadSink* out = nullptr;
    uint8_t* buffers[2] = {};  // the caller's
    size_t sizes[2] = {};
    bool full[2] = {};  // handed to the writer and not written yet
    int next = 0;       // the buffer to fill next
    bool ending = false;
    bool failed = false;  // a write failed: later chunks are dropped
    std::string error;
    std::mutex lock;
    std::condition_variable changed;
    std::thread writer;

    ~WriteBehind();  // finishes, so that no writer outlives its buffers
};

// Starts the writer on `out`. The writer holds back the signals the cleanup
// handles, so that they always reach the thread that registers files. When
// no thread can be started, chunks are written as they are submitted.
void write_behind_start(WriteBehind& wb, PayloadSink& out);
// The buffer to fill next, once the writer is done with it.
uint8_t* write_behind_buffer(WriteBehind& wb);
// Hands the filled buffer, `size` bytes of it, to the writer.
void write_behind_submit(WriteBehind& wb, size_t size);
// Waits until everything handed over is written and ends the writer: false,
// with the reason, if a write failed.
bool write_behind_finish(WriteBehind& wb, std::string& error);
