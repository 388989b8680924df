#include "sys/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "sys/signals.h"

void process_setup(int&, char**&) {
    for (int fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDONLY);  // takes the lowest free descriptor: fd
    }
    // Inherited as ignored, SIGCHLD would make the kernel reap xz itself, and
    // its exit status could never be known.
    signal(SIGCHLD, SIG_DFL);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
    cleanup_install_handlers();
}

bool stderr_is_terminal() { return isatty(2) == 1; }
