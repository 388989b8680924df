// The child process's steps that are the same on every system, on the
// platform's spawn, reap and kill (child_*.cpp).
#include "sys/child.h"

#include <cstdio>

#include "sys/descriptor.h"
#include "sys/misuse.h"

ChildProcess::~ChildProcess() { abort(); }

bool ChildProcess::read(uint8_t* output, size_t output_size, size_t& got, std::string& error) {
    got = 0;
    if (process_ == 0) return misuse("a child read that is not running", error);
    if (!fd_read_some(out_.get(), output, output_size, got, error)) return reap("its output could not be read", error);
    if (got == 0) out_.reset();
    return true;
}

bool ChildProcess::wait(std::string& error) {
    if (process_ == 0) return misuse("a child waited for that is not running", error);
    return reap(nullptr, error);
}

void ChildProcess::abort() {
    if (process_ == 0) return;
    kill_process();
    std::string ignored;
    reap(nullptr, ignored);
}

bool ChildProcess::reap(const char* otherwise, std::string& error) {
    out_.reset();
    Exit exit = reap_process();
    switch (exit.how) {
        case Exit::How::unknown:
            // Without its exit status, nothing tells that the child succeeded.
            error = "its exit status could not be had: " + exit.reason;
            return false;
        case Exit::How::killed_by_signal: error = "killed by signal " + std::to_string(exit.code); return false;
        case Exit::How::ended_by_status: {
            // An exception or a forced end on Windows, given as an NTSTATUS code.
            char text[32];
            std::snprintf(text, sizeof text, "ended by status 0x%08lx", static_cast<unsigned long>(exit.code));
            error = text;
            return false;
        }
        case Exit::How::exited: break;
    }
    if (exit.code != 0) {
        error = "exit status " + std::to_string(exit.code);
        return false;
    }
    if (otherwise != nullptr) {
        error = otherwise;
        return false;
    }
    return true;
}
