#include "text/progress.h"

#include <cstdio>
#include <string>

namespace {

constexpr auto kQuiet = std::chrono::seconds(1);          // a run this short shows nothing
constexpr auto kRedraw = std::chrono::milliseconds(250);  // a line a quarter second at most
constexpr auto kLogEvery = std::chrono::seconds(5);       // whole lines, for a log

std::string decimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace

void Progress::start(ProgressChoice choice, bool stderr_is_terminal, const char* tool, uint64_t total) {
    shown_ = choice == ProgressChoice::always || (choice == ProgressChoice::automatic && stderr_is_terminal);
    in_place_ = stderr_is_terminal;
    tool_ = tool;
    total_ = total;
    started_ = Clock::now();
    drawn_ = started_;
}

void Progress::update(uint64_t done) {
    if (!shown_) return;
    const auto now = Clock::now();
    // The first line once the run has lasted a second, the next after the interval.
    const bool drawn_before = drawn_ != started_;
    if (now - started_ < kQuiet || (drawn_before && now - drawn_ < (in_place_ ? kRedraw : kLogEvery))) return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - started_).count();
    const double rate = done / seconds;  // bytes a second
    std::string line = std::string(tool_) + ": ";
    if (total_ > 0) {
        line += std::to_string(static_cast<unsigned>(100.0 * done / total_)) + "%, " + decimal(rate / 1e6) + " MB/s, ";
        if (done >= total_) {
            line += "0:00 left";
        } else if (rate > 0) {
            const auto left = static_cast<uint64_t>((total_ - done) / rate + 0.5);
            char text[32];
            std::snprintf(text, sizeof text, "%llu:%02llu left", static_cast<unsigned long long>(left / 60),
                          static_cast<unsigned long long>(left % 60));
            line += text;
        } else {
            line += "--:-- left";
        }
    } else {
        line += decimal(done / 1e6) + " MB, " + decimal(rate / 1e6) + " MB/s";
    }
    if (!in_place_) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
        return;
    }
    // Blanks cover what is left of a longer line before it.
    const size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');
    width_ = width;
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
}

void Progress::clear() {
    if (width_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
    std::fflush(stderr);
    width_ = 0;
}
