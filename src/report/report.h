// The system-error report: how every program of the toolkit tells a person
// that a call to the system failed. Below every other module, so that
// readers, writers and the commands can all use it.
#pragma once

// Prints "<message>: <text of the current errno>\n" on standard error, or just
// the error text and the newline when the message is empty. Standard output is
// flushed first so the report lands after what the run already printed.
// errno is left as it was.
void report_system_error(const char* message);
