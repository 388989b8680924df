// The status line of a long run on standard error: percent done, MB/s and
// time left. On a terminal it is rewritten in place and cleared at the end;
// elsewhere (a CI log, asked for with --progress) it is a whole line at most
// every few seconds, which a log keeps readable. It appears only once a run
// has lasted a second, and only when shown at all: on a terminal, or when
// asked for; never in a log unless asked for.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

enum class ProgressChoice { automatic, always, never };  // --progress, --no-progress

class Progress {
public:
    Progress() = default;
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    ~Progress() { clear(); }

    // Starts timing a run of `total` bytes (0: not known, as for a stream).
    // Shown as CHOICE says, or, left to the tool, when standard error is a
    // terminal; there as a line rewritten in place, elsewhere as whole lines.
    void start(ProgressChoice choice, bool stderr_is_terminal, const char* tool, uint64_t total);
    // `done` bytes of the total are done.
    void update(uint64_t done);
    // Removes the line; before anything else is printed, and at the end.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    bool shown_ = false;
    bool in_place_ = false;
    const char* tool_ = "";
    uint64_t total_ = 0;
    Clock::time_point started_, drawn_;
    size_t width_ = 0;  // of the line on the screen, 0 when none is
};
