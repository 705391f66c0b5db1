// The process's standard output and error: writing to them without being
// held up once a stop is requested, and the terminal they may go to.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace twinmere {

enum class StandardStream : uint8_t { Output, Error };

// Writes all of `bytes` to `stream`. While `stop` is null or clear, a full
// pipe or a paused terminal is waited for; once it is set, what the stream
// cannot take at once is dropped, so that a stopped run reaches its end
// however its output is blocked (a signal that sets the flag interrupts a
// write already waiting). A closed pipe or any other failure drops the
// rest. Returns false when anything was dropped.
bool WriteToStream(StandardStream stream, std::string_view bytes, const std::atomic<int>* stop);

// Whether `stream` goes to a terminal. False where that cannot be told.
bool IsTerminal(StandardStream stream);

// The width in columns of the terminal that `stream` goes to; 0 when it goes
// to none, or the terminal does not tell.
size_t TerminalColumns(StandardStream stream);

}  // namespace twinmere
