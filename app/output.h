#pragma once

#include <string>

// Standard streams that were closed when the program started are opened on
// /dev/null for reading, so that no file opened later takes their place
// (whatever is written there would land in it) and writes to them fail.
void hold_closed_standard_streams();

// Flushes standard output; false once anything written to it was lost.
bool flush_output();

// Prints the run's one line saying what failed on standard error, after
// everything standard output holds so far.
void report_failure(const std::string& message);

// The exit status of a run ending with `status`: standard output is flushed
// and, if any of it was lost, one line on standard error says so and the
// status becomes 1 (unless it was already a failure).
int finish_output(const char* program, int status);
