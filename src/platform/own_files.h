// The files the program keeps for itself: the settings store, the report
// and the run summary, launchers and timer units. Unlike the items of the
// synchronized trees (file_system.h) they are reached by plain paths, with
// no confined root; a final link is followed where a function says so.
// Every function returns 0 or the error of the first call that failed
// (platform/errors.h); nothing throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace twinmere {

// Whether a link that a path ends in is followed, or the link itself is meant.
enum class FinalLink : uint8_t { Follow, Itself };

enum class PathKind : uint8_t {
  File,
  Folder,
  Link,   // only with FinalLink::Itself
  Other,  // a FIFO, a socket, a device
};

struct PathFacts {
  PathKind kind = PathKind::Other;
  uint64_t device = 0;  // device and inode identify the item
  uint64_t inode = 0;
};

// Looks `path` up. Fails with kErrNotFound, kErrPathNotFound (a folder of
// the path is a file), kErrAccessDenied, ...
ErrorCode LookUpPath(const std::string& path, FinalLink final_link, PathFacts& facts);

// Makes the folder `path` in an existing folder, with the permission bits
// `mode` less the umask. Fails with kErrAlreadyExists when anything has the
// name, kErrNotFound when the folder above is missing, kErrAccessDenied, ...
ErrorCode MakeFolder(const std::string& path, uint32_t mode);

// Removes the file or link `path`, never a folder nor what a link points to.
// Fails with kErrNotFound when nothing has the name, kErrIsAFolder, ...
ErrorCode RemoveFile(const std::string& path);

// Gives the item `from` the name `to` on the same file system, never
// replacing an item there: kErrAlreadyExists when `to` is taken. Where the
// file system cannot refuse to replace, a lookup of `to` decides first (a
// narrow race). Fails also with kErrNotFound when `from` is gone,
// kErrCrossDevice, ...
ErrorCode RenameWithoutReplacing(const std::string& from, const std::string& to);

// The names in the folder `folder` (a final link followed), of items of
// every kind, in listing order, "." and ".." left out. Fails with the error
// of opening or reading the folder; `names` then holds what was read.
ErrorCode ListFolderNames(const std::string& folder, std::vector<std::string>& names);

// Reads the regular file `path` whole into `text`. Opened without waiting
// for anything: a FIFO under the name never stalls the caller. Fails with
// the error of opening or reading it, kErrIsAFolder for a folder,
// kErrNotSupported for any other item that is no regular file (a FIFO, a
// device), kErrFileTooLarge once it held more than `limit` bytes; with
// FinalLink::Itself a final link fails (kErrLinkInPath). `text` is
// unspecified after a failure.
ErrorCode ReadSmallFile(const std::string& path, size_t limit, FinalLink final_link,
                        std::string& text);

enum class OpenMode : uint8_t {
  Append,   // create when missing, write at the end
  Replace,  // create when missing, truncate
};

// A text file written through one opening (the report: opened and closed at
// every flush). A final link is followed. Nothing here waits for another
// process: only a regular file (or a name still to be created) is opened,
// and a call that a signal interrupts fails with kErrInterrupted. The
// destructor closes the file, ignoring errors.
class TextFileWriter {
 public:
  TextFileWriter() = default;
  ~TextFileWriter();
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  // Opens `path` (mode 0666 less the umask when it is made). Fails with the
  // error of the open, or kErrNotSupported when the path names anything but
  // a regular file (a FIFO, a device, a socket); such a file is neither
  // truncated nor written.
  ErrorCode Open(const std::string& path, OpenMode mode);
  // Writes all of `text`. Fails with kErrNotOpen, or the error of the
  // failing write (kErrNoSpace when the disk is full).
  ErrorCode Write(std::string_view text);
  // The file's length in bytes now; sets `error` on failure (kErrNotOpen).
  uint64_t Size(ErrorCode& error) const;
  // Closes the file; 0 or the error of the close (an interrupted close
  // counts as done).
  ErrorCode Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  // A descriptor, or on Windows the file's handle; -1 while none is open.
  intptr_t fd_ = -1;
};

// A text file read line by line (a final link followed).
class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Fails with the error of the open (kErrNotFound ...).
  ErrorCode Open(const std::string& path);
  // The next line, with its line end where it has one. kErrNoMoreEntries
  // after the last line, kErrNotOpen, or the error of the read.
  ErrorCode ReadLine(std::string& line);

 private:
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;  // of the line read, kept from line to line
  size_t capacity_ = 0;
};

}  // namespace twinmere
