#include "platform/win32/program_start_win32.h"

#include <algorithm>

#include "platform/program_start.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"
// After windows.h, which they need.
#include <objbase.h>
#include <shellapi.h>

namespace twinmere::win32 {

std::wstring CommandLine(const std::vector<std::wstring>& arguments) {
  std::wstring line;
  for (const std::wstring& argument : arguments) {
    if (!line.empty()) line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
      line += argument;
      continue;
    }
    line += L'"';
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      if (c == L'"') backslashes = backslashes * 2 + 1;
      line.append(backslashes, L'\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
  }
  return line;
}

}  // namespace twinmere::win32

namespace twinmere {
namespace {

// Starts the program named by the first of `arguments` (a bare name is
// searched as CreateProcessW searches: the program's folder, the current
// one, the system's, then PATH), with the given start-up record.
ErrorCode Start(const std::vector<std::string>& arguments, DWORD flags, bool inherit,
                STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
  std::vector<std::wstring> wide(arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i)
    if (!win32::Utf8ToWide(arguments[i], wide[i])) return ERROR_INVALID_NAME;
  std::wstring line = win32::CommandLine(wide);
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, inherit ? TRUE : FALSE,
                      flags | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &process))
    return win32::LastError();
  return 0;
}

}  // namespace

// The program gets a process group of its own (a console's Ctrl+C does not
// reach it) and none of this process's handles; nothing waits for it, and
// no trace of it remains here once its handles are closed.
ErrorCode StartProgram(const std::string& program, const std::string& argument) {
  if (program.empty()) return kErrNotFound;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (const ErrorCode code =
          Start({program, argument}, CREATE_NEW_PROCESS_GROUP, false, startup, process);
      code != 0)
    return code;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return kSuccess;
}

ErrorCode RunProgram(const std::vector<std::string>& argv, ProgramResult& result) {
  if (argv.empty() || argv[0].empty()) return kErrNotFound;
  constexpr size_t kMaxOutput = 64 * 1024;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherited, 0)) return win32::LastError();
  win32::Handle reader(read_end);
  win32::Handle writer(write_end);
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  win32::Handle nothing(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherited, OPEN_EXISTING, 0, nullptr));
  if (!nothing.valid()) return win32::LastError();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing.get();
  startup.hStdOutput = write_end;
  startup.hStdError = write_end;
  PROCESS_INFORMATION process{};
  const ErrorCode started = Start(argv, CREATE_NO_WINDOW, true, startup, process);
  writer.Reset();
  nothing.Reset();
  if (started != 0) return started;
  win32::Handle thread(process.hThread);
  win32::Handle child(process.hProcess);
  std::string output;
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(reader.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
    output.append(buffer, std::min<size_t>(n, kMaxOutput - std::min(kMaxOutput, output.size())));
  WaitForSingleObject(child.get(), INFINITE);
  DWORD status = 0;
  result.exit_status = GetExitCodeProcess(child.get(), &status) ? static_cast<int>(status) : -1;
  result.output = std::move(output);
  return kSuccess;
}

// A file (links followed) whose extension is one that Windows runs
// (PATHEXT: .COM, .EXE, .BAT, .CMD ...).
bool IsProgramFile(const std::string& path) {
  win32::SystemPath system;
  if (path.empty() || win32::ToSystemPath(path, system) != 0) return false;
  const DWORD attributes = GetFileAttributesW(system.text.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return false;
  const std::wstring_view name = system.LastName();
  const size_t dot = name.rfind(L'.');
  if (dot == std::wstring_view::npos) return false;
  const std::wstring_view extension = name.substr(dot);
  wchar_t listed[1024];
  const DWORD n = GetEnvironmentVariableW(L"PATHEXT", listed, 1024);
  const std::wstring_view extensions =
      n > 0 && n < 1024 ? std::wstring_view(listed, n) : L".COM;.EXE;.BAT;.CMD";
  for (size_t start = 0; start <= extensions.size();) {
    size_t end = extensions.find(L';', start);
    if (end == std::wstring_view::npos) end = extensions.size();
    if (win32::SameNameIgnoringCase(extensions.substr(start, end - start), extension)) return true;
    start = end + 1;
  }
  return false;
}

// The shell needs COM on the calling thread; its "open" of a program runs
// it, with the parameters as its command line.
ErrorCode OpenInViewer(const std::string& viewer, const std::string& document) {
  if (viewer.empty()) return kErrNotFound;
  std::wstring program;
  std::wstring file;
  std::string shown = document;
  std::replace(shown.begin(), shown.end(), '/', '\\');
  if (!win32::Utf8ToWide(viewer, program) || !win32::Utf8ToWide(shown, file))
    return ERROR_INVALID_NAME;
  const std::wstring parameters = win32::CommandLine({file});
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW request{};
  request.cbSize = sizeof request;
  request.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  request.lpVerb = L"open";
  request.lpFile = program.c_str();
  request.lpParameters = parameters.c_str();
  request.nShow = SW_SHOWNORMAL;
  const bool started = ShellExecuteExW(&request) != 0;
  const ErrorCode error = started ? kSuccess : win32::LastError();
  if (SUCCEEDED(com)) CoUninitialize();
  return error;
}

}  // namespace twinmere
