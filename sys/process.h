// What both tools do first, before they open anything.
#pragma once

// Makes sure descriptors 0, 1 and 2 are open, so that no file of ours is ever
// opened on one of them and then written by a message. A closed 1 or 2 is
// reopened read-only on /dev/null, so that writing there still fails as it
// would have. Ignores SIGPIPE and SIGXFSZ, so that a reader that went away or
// a file size limit is a failed write the run reports and cleans up after,
// puts SIGCHLD at its default, so that a child's exit status can be had, and
// installs the cleanup handlers. Gives back the arguments in UTF-8 (on
// Windows, taken from the wide command line; elsewhere as they came). On a
// Windows console, the text written is UTF-8, as everywhere else.
void process_setup(int& argc, char**& argv);

// Whether standard error is a terminal (a console on Windows), where a
// status line that rewrites itself can be shown.
bool stderr_is_terminal();
