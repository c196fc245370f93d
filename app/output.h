#pragma once

#include <string>

// Sets up the standard streams before anything is printed:
// - streams that were closed when the program started are opened on
//   /dev/null for reading, so that no file opened later takes their place
//   (whatever is written there would land in it) and writes to them fail;
// - a write to a pipe whose reader is gone, or past the file size limit,
//   fails with its reason instead of ending the program (SIGPIPE and
//   SIGXFSZ are caught and do nothing, unless the caller ignores them);
// - standard output keeps the reason its first write failed for, whoever
//   flushed it (a library may flush every stream before a fork).
void start_output();

// Flushes standard output; false once anything written to it was lost.
bool flush_output();

// `text` with every control character shown as \xHH (the C0 controls and
// DEL, and the C1 controls in their UTF-8 form), so that a name taken from
// the command line or a file can neither break a line nor reach the
// terminal as an escape sequence. Text without them comes back unchanged.
std::string printable(const std::string& text);

// Prints the run's one line saying what failed on standard error, after
// everything standard output holds so far, its control characters shown
// by `printable`.
void report_failure(const std::string& message);

// The exit status of a run ending with `status`: standard output is flushed
// and, if any of it was lost, one line on standard error says so and the
// status becomes 1 (unless it was already a failure).
int finish_output(const char* program, int status);
