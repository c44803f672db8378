// Temporary files that must not outlive an interrupted run.
//
// While a path is tracked, SIGINT, SIGTERM, SIGHUP and SIGQUIT remove it and
// the process then ends by that same signal (its default action, re-raised),
// so the shell still sees the run interrupted. Signals that were ignored when
// the first path was tracked (a run started with nohup, or in the background
// of a script) stay ignored. Before a file is tracked and after it is
// untracked a signal acts as it did before, apart from running through the
// handler on its way to the default action.
//
// The handler does only async-signal-safe work: it unlinks the paths prepared
// here beforehand. Paths are taken as given, relative ones against the
// working directory, which the programs of this project never change.
//
// On Windows tracking is accepted and does nothing: a file open for writing
// there cannot be removed by another thread.
#pragma once

inline constexpr int INTERRUPT_MAX_FILES = 64;
inline constexpr int INTERRUPT_MAX_PATH = 4096;  // bytes, the terminator included

// Tracks `path` (copied): returns a handle >= 0, or -1 with errno set when
// the path is too long (ENAMETOOLONG) or INTERRUPT_MAX_FILES are tracked
// already (ENOSPC). Track a name before the file is created under it, so
// that no moment passes with the file there and untracked.
int track_temporary(const char* path);

// Stops tracking; after the file was renamed into place or removed. A
// handle of -1 is ignored.
void untrack_temporary(int handle);
