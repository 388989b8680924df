// A child process that reads a file of the caller's on its standard input
// and gives its output back on a pipe: the packer runs xz this way. Calling
// sequence:
//
//     ChildProcess child;
//     if (!child_start(child, {"xz", ...}, {"XZ_OPT"}, input_fd, error)) ...
//     while (!child_output_ended(child)) child_read(child, buffer, size, got, error);
//     child_wait(child, error);  // exit status 0, or why not
//
// A child still running when its owner goes is killed and reaped; so it is
// when a signal ends the tool (see signals.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ChildProcess {
    long long id = -1;  // the process, while it runs
    int out_fd = -1;    // its standard output, until it ends

    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // kills and reaps a child still running
};

// Starts `argv`, its program found on the search path, reading `input_fd` as
// its standard input, with the tool's environment less the variables named
// in `drop_env`. Its messages go to the tool's standard error. Here and
// below, `error` is the reason on failure ("not found", "exit status 1",
// "killed by signal 9", ...).
bool child_start(ChildProcess& child, const std::vector<std::string>& argv, const std::vector<std::string>& drop_env,
                 int input_fd, std::string& error);

// Waits until the child has output and reads what it has into `output`,
// `got` bytes; none once its output has ended. On failure the child has been
// reaped and `error` says why.
bool child_read(ChildProcess& child, uint8_t* output, size_t output_size, size_t& got, std::string& error);

// True once the child's output has ended.
inline bool child_output_ended(const ChildProcess& child) { return child.out_fd < 0; }

// Reaps the child after its output ended: true when it exited with status 0.
bool child_wait(ChildProcess& child, std::string& error);

// Kills and reaps the child, for a run that gives up.
void child_abort(ChildProcess& child);
