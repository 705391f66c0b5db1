// Standard output and error on Windows. A console gets UTF-16 through
// WriteConsoleW, whatever its code page, and reads the terminal sequences
// the progress line uses; a pipe or a file gets the UTF-8 bytes as they
// are. A write that waits (a full pipe, a console whose output is paused
// by a selection) is cancelled from the stop handler (stop_signals_win32)
// once a stop is requested; after that, each write gets a short time and
// what it cannot write by then is dropped.
#include <algorithm>
#include <mutex>

#include "platform/standard_streams.h"
#include "platform/win32/text_win32.h"
#include "platform/win32/windows_api.h"

namespace twinmere {
namespace {

// How long a write may wait once a stop is requested.
constexpr DWORD kStoppedWriteWaitMs = 200;

HANDLE HandleOf(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode) != 0;
}

// The console reads "\x1b[K" and the like from now on (Windows 10 and
// later; older consoles show them as they are).
void EnableTerminalSequences(HANDLE console) {
  static std::once_flag once[2];
  const int which = console == GetStdHandle(STD_OUTPUT_HANDLE) ? 0 : 1;
  std::call_once(once[which], [console] {
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode))
      SetConsoleMode(console, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  });
}

// One write of at most `size` bytes (a console: of the characters they
// hold); the bytes written, or -1 on failure.
int64_t WriteSome(HANDLE handle, bool console, const char* data, DWORD size) {
  if (console) {
    std::wstring wide;
    if (win32::Utf8ToWide(std::string_view(data, size), wide)) {
      DWORD written = 0;
      if (!WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr))
        return -1;
      // A console takes all or fails; its count is of UTF-16 units.
      return written == wide.size() ? static_cast<int64_t>(size) : -1;
    }
    // Bytes that are not UTF-8 go as they are, in the console's code page.
  }
  DWORD written = 0;
  if (!WriteFile(handle, data, size, &written, nullptr)) return -1;
  return written;
}

struct TimedWrite {
  HANDLE handle;
  bool console;
  const char* data;
  DWORD size;
  int64_t written = -1;
};

DWORD WINAPI RunWrite(void* argument) {
  auto* write = static_cast<TimedWrite*>(argument);
  write->written = WriteSome(write->handle, write->console, write->data, write->size);
  return 0;
}

// WriteSome on a thread of its own, cancelled when it waits longer than
// kStoppedWriteWaitMs.
int64_t WriteWithin(HANDLE handle, bool console, const char* data, DWORD size) {
  TimedWrite write{handle, console, data, size};
  const HANDLE thread = CreateThread(nullptr, 0, RunWrite, &write, 0, nullptr);
  if (thread == nullptr) return -1;
  if (WaitForSingleObject(thread, kStoppedWriteWaitMs) != WAIT_OBJECT_0) {
    CancelSynchronousIo(thread);
    WaitForSingleObject(thread, INFINITE);
  }
  CloseHandle(thread);
  return write.written;
}

}  // namespace

bool WriteToStream(StandardStream stream, std::string_view bytes, const std::atomic<int>* stop) {
  const HANDLE handle = HandleOf(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return bytes.empty();
  const bool console = IsConsole(handle);
  if (console) EnableTerminalSequences(handle);
  const bool disk = !console && GetFileType(handle) == FILE_TYPE_DISK;
  while (!bytes.empty()) {
    const auto size = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    const bool stopped = stop != nullptr && stop->load() != 0;
    int64_t n = stopped && !disk ? WriteWithin(handle, console, bytes.data(), size)
                                 : WriteSome(handle, console, bytes.data(), size);
    // A write that the stop handler cancelled: look at the flag again.
    if (n < 0 && GetLastError() == ERROR_OPERATION_ABORTED && !stopped) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool IsTerminal(StandardStream stream) {
  return IsConsole(HandleOf(stream));
}

size_t TerminalColumns(StandardStream stream) {
  const HANDLE handle = HandleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!IsConsole(handle) || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return static_cast<size_t>(std::max(0, info.srWindow.Right - info.srWindow.Left + 1));
}

}  // namespace twinmere
