// A child process that reads a file of the caller's on its standard input
// and gives its output back on a pipe: the packer runs xz this way. Calling
// sequence:
//
//     ChildProcess child;
//     if (!child.start({"xz", ...}, {"XZ_OPT"}, input, error)) ...
//     while (!child.output_ended()) child.read(buffer, size, got, error);
//     child.wait(error);  // exit status 0, or why not
//
// The child runs in a process group of its own on every system, so that a
// Ctrl-C at the terminal reaches the tool alone, which then ends the child:
// the tool, not the child, decides how the run ends. A child still running
// when its owner goes is killed and reaped, with its process group; so it is
// when a signal ends the tool (see signals.h), and what is left in its group
// when it is reaped is ended too. The run waits for the end of the child's
// output, so a grandchild that holds it keeps the run waiting too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sys/descriptor.h"

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();  // kills and reaps a child still running

    // Starts `argv`, its program found on the search path, reading `input` as
    // its standard input, with the tool's environment less the variables
    // named in `drop_env`. Its messages go to the tool's standard error. Here
    // and below, `error` is the reason on failure ("not found", "exit status
    // 1", "killed by signal 9", ...).
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& drop_env, const Descriptor& input,
               std::string& error);

    // Waits until the child has output and reads what it has into `output`,
    // `got` bytes; none once its output has ended. On failure the child has
    // been reaped and `error` says why.
    bool read(uint8_t* output, size_t output_size, size_t& got, std::string& error);

    bool output_ended() const { return !out_.is_open(); }

    // Reaps the child after its output ended: true when it exited with status 0.
    bool wait(std::string& error);

    // Kills and reaps the child, for a run that gives up.
    void abort();

private:
    // How a child ended, as the platform tells it.
    struct Exit {
        enum class How { exited, killed_by_signal, ended_by_status, unknown } how = How::unknown;
        uint32_t code = 0;   // the exit status, the signal, or the NTSTATUS code
        std::string reason;  // why it is unknown
    };

    // Reaps the child and says how it ended; `otherwise` is the reason when
    // it exited 0 although something went wrong.
    bool reap(const char* otherwise, std::string& error);

    // The platform's steps (child_posix.cpp, child_win32.cpp; start is the
    // platform's too). reap_process waits for the child and lets it go.
    Exit reap_process();
    void kill_process();

    // The child while it runs, 0 when there is none: its process id on POSIX
    // systems, its process handle on Windows. Only the platform's code reads it.
    intptr_t process_ = 0;
    Descriptor out_;  // its standard output, until it ends
};
