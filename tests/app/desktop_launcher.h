// What a desktop does with a desktop entry, written from the freedesktop
// Desktop Entry Specification without the program's own reader: the checks of
// desktop-file-validate, Exec split into a program's argv, and starting it
// without a shell.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace twinmere::testing {

// The value of `key` in the entry's text, with the escapes of the format
// undone; empty when missing.
inline std::string EntryValue(const std::string& entry_text, const std::string& key) {
  std::istringstream in(entry_text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key + "=", 0) != 0) continue;
    std::string value;
    for (size_t i = key.size() + 1; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        value += line[i];
        continue;
      }
      const char c = line[++i];
      value += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
    }
    return value;
  }
  return {};
}

// The argv of Exec: split at blanks; a double-quoted argument may hold blanks
// and a backslash takes the next character literally; then "%%" gives "%".
inline std::vector<std::string> DesktopArgv(const std::string& entry_text) {
  const std::string exec = EntryValue(entry_text, "Exec");
  std::vector<std::string> argv;
  std::string current;
  bool in_argument = false;
  bool quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '\\' && i + 1 < exec.size()) {
        current += exec[++i];
      } else if (c == '"') {
        quoted = false;
      } else {
        current += c;
      }
    } else if (c == ' ') {
      if (in_argument) argv.push_back(current);
      current.clear();
      in_argument = false;
    } else {
      in_argument = true;
      if (c == '"') {
        quoted = true;
      } else {
        current += c;
      }
    }
  }
  if (in_argument) argv.push_back(current);
  for (std::string& argument : argv) {
    for (size_t at = argument.find("%%"); at != std::string::npos; at = argument.find("%%", at + 1))
      argument.erase(at, 1);
  }
  return argv;
}

// Runs `argv` with execvp (no shell) in `folder` (unless empty) with `env`
// added to the environment, its output to `output`; its exit status or -1.
inline int RunProgram(const std::vector<std::string>& argv, const std::string& folder,
                      const std::vector<std::string>& env, const std::string& output) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(126);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    for (const std::string& entry : env) putenv(const_cast<char*>(entry.c_str()));
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// desktop-file-validate's verdict on `path`: empty when it accepts the
// file, else its output.
inline std::string ValidatorComplaints(const std::string& path) {
  const std::string output = path + ".validator";
  const int status = RunProgram({"desktop-file-validate", path}, "", {}, output);
  std::ifstream in(output);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  unlink(output.c_str());
  if (status == 127) return "desktop-file-validate is not installed (scripts/install-deps)";
  return status == 0 && text.empty() ? std::string() : text.empty() ? "rejected" : text;
}

}  // namespace twinmere::testing
