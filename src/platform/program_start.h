// Starting another program for the user (the report viewer) without waiting
// for it, and running a helper program (systemctl) to its end.
#pragma once

#include <string>
#include <vector>

#include "platform/errors.h"

namespace twinmere {

// The viewer that opens the report unless the user chose another: the
// desktop's own choice for the file's type on Linux, Notepad on Windows.
#ifdef _WIN32
inline constexpr char kSystemReportViewer[] = "notepad.exe";
#else
inline constexpr char kSystemReportViewer[] = "xdg-open";
#endif

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

// What a program run to its end did.
struct ProgramResult {
  int exit_status = -1;  // its exit code; -1 when a signal ended it
  std::string output;    // its standard output and error together, the first 64 KiB
};

// Runs argv[0] (a bare name is searched along PATH) with `argv` and waits for
// its end, with standard input from /dev/null, standard output and error
// into `result.output`, every signal at its default action and no other
// descriptor of this process. No shell is involved. Returns 0, or the errno
// of a failed start (ENOENT when the program is not found ...); `result` then
// stays as it was.
ErrorCode RunProgram(const std::vector<std::string>& argv, ProgramResult& result);

// True when `path` names a regular file (a link to one counts) that this
// process may execute: what may be chosen as a viewer. Never fails: a failed
// lookup gives false.
bool IsProgramFile(const std::string& path);

// Opens `document` for the user in the program `viewer` and returns
// without waiting. On Linux this is StartProgram(viewer, document). On
// Windows it goes through the shell (ShellExecuteExW, "open"), which also
// finds a program by the name it registered (App Paths), with the document
// as its one argument, quoted, written with "\". Returns 0 or the error of
// the start.
ErrorCode OpenInViewer(const std::string& viewer, const std::string& document);

}  // namespace twinmere
