// Files to remove if the process is ended by SIGHUP, SIGINT or SIGTERM while
// they are still incomplete, so that a run killed by a CI timeout or Ctrl-C
// leaves no partial file behind. A signal that was ignored stays ignored.
#pragma once

#include <string>

// At most two paths are held at once; that is all a run ever has open.
void remove_on_signal(const std::string& path);
void keep_on_signal(const std::string& path);
