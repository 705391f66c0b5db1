// Starting another program for the user (the report viewer) without waiting
// for it.
#pragma once

#include <string>

#include "platform/errors.h"

namespace twinmere {

// Starts `program` with `argument` as its one and only argument and returns
// without waiting for it. A `program` holding a "/" is taken as a path; a
// bare name is searched along PATH as execvp does. No shell is involved, so
// the argument reaches the program exactly as it is, blanks, quotes and "$"
// included. The program runs in a session of its own (a terminal's Ctrl+C
// does not reach it), with every signal at its default action and none
// blocked, and inherits no descriptor of this process beyond standard input,
// output and error. A thread of this process waits for its end, so that no
// zombie remains. Returns 0, or the errno of the failed start (ENOENT when
// the program is not found, EACCES when it may not be run ...); nothing is
// left running then.
ErrorCode StartProgram(const std::string& program, const std::string& argument);

// True when `path` names a regular file (a link to one counts) that this
// process may execute: what may be chosen as a viewer. Never fails: a failed
// lookup gives false.
bool IsProgramFile(const std::string& path);

}  // namespace twinmere
