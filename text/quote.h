// Names and bytes made safe to show: on any terminal, in any log, losing
// nothing. A name prints as it was typed whenever that is safe.
#pragma once

#include <string>

// Bytes as ASCII: printable characters stay, a backslash is doubled, any
// other byte is written \xNN. For what a file holds (the magic, the label).
std::string printable(const std::string& bytes);

// A name as typed, when it is UTF-8 holding no control character (nor a
// character that reorders or splits the text around it) and none of the
// characters quoting writes (' $ \; a backslash, the separator there, shows
// on Windows), so that two names never show alike.
// Any other name is quoted as a POSIX shell reads it back: 'a'$'\n''b', an
// odd byte as $'\xNN'.
std::string shown_name(const std::string& name);

// An argument in a message, always in single quotes, pasteable into a POSIX
// shell: 'ARG', a quote within as '\'', odd bytes as above.
std::string single_quoted(const std::string& arg);

// NAME as a JSON string: the exact text for UTF-8, the controls above
// escaped (\u2028, \u202e, \u007f); a byte that is not UTF-8 is written
// \udcNN (0xNN + 0xDC00), the escape Python's os.fsencode undoes.
std::string json_name(const std::string& name);
