// Whole files replaced at once: the new bytes go to a temporary file beside
// the target (a name of the leftover pattern, see temporary_names.h), which
// is flushed as asked and then renamed over the target. A reader, and a
// crash, find the old file or the new one, never a part of either; no
// failure leaves the temporary file behind.
//
// The folder part of the path is followed like any path; the final name is
// never written through: a link there is replaced by the new file (what it
// points to stays as it is), and a folder there makes the rename fail.
// The file gets the permission bits asked for, never its old owner.
//
// Every function returns 0 or the errno of the first call that failed;
// nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace twinmere {

// How far the new file is flushed before it takes the target's name.
enum class FileFlush : uint8_t {
  None,           // left to the kernel
  Data,           // its contents (fdatasync) before the rename
  DataAndFolder,  // also its folder (fsync) after the rename: the new name lasts
};

// Where the permission bits of the new file come from.
enum class ModeSource : uint8_t {
  Given,     // AtomicWriteOptions::mode
  Existing,  // the regular file at the path now (not through a link); `mode` for anything else
};

// What a failure to give the new file its permission bits does.
enum class ModeFailure : uint8_t {
  Fails,    // the write fails with the errno of fchmod
  Ignored,  // the file keeps the mode it was made with (0600)
};

struct AtomicWriteOptions {
  uint32_t mode = 0600;  // all of 07777, not reduced by the umask
  ModeSource mode_source = ModeSource::Given;
  ModeFailure mode_failure = ModeFailure::Fails;
  FileFlush flush = FileFlush::None;
};

// One replacement, written in pieces: Begin, Append as often as needed,
// Commit. A failure of any of them removes the temporary file, leaves the
// target as it was and makes the writer idle again; so does Abandon, and the
// destructor of a writer that was not committed.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Makes the empty temporary file beside `path` (a bare name: in the
  // current directory) and gives it its mode. A writer that was begun is
  // abandoned first. Fails with ENOENT for an empty path, EISDIR for one
  // that ends in "/", or the errno of opening the folder (ENOENT, ENOTDIR,
  // EACCES, ...), of creating the file (EACCES, EROFS, ENOSPC, EDQUOT;
  // EEXIST when a hundred names in a row are taken), or of fchmod (with
  // ModeFailure::Fails).
  ErrorCode Begin(const std::string& path, const AtomicWriteOptions& options);
  // Adds `bytes` to the file. Fails with EBADF when the writer is idle, or
  // with the errno of write (ENOSPC or EDQUOT when the disk is full, EFBIG).
  ErrorCode Append(std::string_view bytes);
  // Flushes the file as asked, closes it and renames it over the target.
  // Fails with EBADF when the writer is idle, or with the errno of
  // fdatasync, close or the rename (EISDIR when the target is a folder,
  // EPERM in a sticky folder that is not the caller's, EXDEV when a mount
  // came between). A failure of the folder's own flush (FileFlush::
  // DataAndFolder: opening it needs read permission, then fsync) comes after
  // the rename: the new file is then in place, but may not outlast a crash.
  ErrorCode Commit();
  // Removes the temporary file; does nothing when the writer is idle.
  void Abandon();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int folder_fd_ = -1;  // O_PATH
  int fd_ = -1;
  std::string name_;       // the target's name in the folder
  std::string temporary_;  // the temporary file's name in the folder
  FileFlush flush_ = FileFlush::None;
};

// Begin, Append(bytes) and Commit in one call, failing as they do.
ErrorCode WriteWholeFile(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options);

}  // namespace twinmere
