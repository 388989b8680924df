#include "sys/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "sys/signals.h"

void process_setup(int& argc, char**& argv) {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDONLY);  // takes the lowest free descriptor: fd
    }
    // Inherited as ignored, SIGCHLD would make the kernel reap xz itself, and
    // its exit status could never be known.
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    // The tool is named as it was started, less its folder.
    const std::string started = argc > 0 ? argv[0] : "";
    cleanup_install_handlers(started.substr(started.find_last_of('/') + 1));
}

bool stderr_is_terminal() { return isatty(2) == 1; }
