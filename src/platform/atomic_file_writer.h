// Whole files written at once. What the path names decides how:
//
// - nothing, or a regular file: the new bytes go to a file beside it that
//   has no name (O_TMPFILE) where the file system allows it, else a
//   temporary name of the leftover pattern (temporary_names.h); the file is
//   flushed as asked and takes the name at the end, a new name by a link
//   that never replaces, an old file by a rename over it. A reader, and a
//   crash, find the old file or the new one, never a part of either; no
//   failure leaves a temporary file behind, and Begin removes the ones that
//   killed writers of this program left in the folder (MayRemoveLeftover).
//   The file gets the permission bits asked for, never its old owner.
// - a FIFO or a character device (a terminal, /dev/null), also at the end
//   of a link such as /dev/stdout: written into as it is, never replaced;
//   no mode is given and nothing is flushed. A FIFO without a reader fails
//   at once with ENXIO, and a reader that goes away gives EPIPE (never a
//   SIGPIPE).
// - the regular file that this process's standard output or error writes
//   to (/dev/stdout, or its path, when the output goes to a file): appended
//   to, so that the lines already there stay.
// - anything else is refused and left as it is: a folder (EISDIR), a
//   socket, a block device, a link that leads to anything else (a regular
//   file, a folder, nothing) (kErrNotSupported).
//
// The folder part of the path is followed like any path. Every function
// returns 0 or the errno of the first call that failed; nothing throws.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/errors.h"

struct stat;

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

// One write, in pieces: Begin, Append as often as needed, Commit. A failure
// of any of them removes the temporary file, leaves the target as it was
// (what was written into a FIFO or device is gone) and makes the writer idle
// again; so does Abandon, and the destructor of a writer that was not
// committed.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  // Makes the empty new file beside `path` (a bare name: in the current
  // directory) and gives it its mode, or opens what is written into as it
  // is. A writer that was begun is abandoned first. Fails with ENOENT for an
  // empty path, EISDIR for one that ends in "/" or names a folder,
  // kErrNotSupported for the other kinds refused above, or the errno of
  // opening the folder (ENOENT, ENOTDIR, EACCES, ...), of creating the file
  // (EACCES, EROFS, ENOSPC, EDQUOT; EEXIST when a hundred names in a row are
  // taken), of opening a FIFO or device (ENXIO: a FIFO without a reader), or
  // of fchmod (with ModeFailure::Fails).
  ErrorCode Begin(const std::string& path, const AtomicWriteOptions& options);
  // Adds `bytes` to the file. Fails with EBADF when the writer is idle, or
  // with the errno of write (ENOSPC or EDQUOT when the disk is full, EFBIG,
  // EPIPE when a FIFO's reader went away).
  ErrorCode Append(std::string_view bytes);
  // Flushes the file as asked, closes it and gives it the target's name.
  // Fails with EBADF when the writer is idle, or with the errno of
  // fdatasync, close, the link or the rename (EPERM in a sticky folder that
  // is not the caller's, EXDEV when a mount came between; EISDIR or
  // kErrNotSupported when something else than a regular file took the
  // name meanwhile). A failure of the folder's own flush (FileFlush::
  // DataAndFolder: opening it needs read permission, then fsync) comes after
  // the rename: the new file is then in place, but may not outlast a crash.
  ErrorCode Commit();
  // Removes the temporary file; does nothing when the writer is idle.
  void Abandon();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  // Opens what the path names, of the kind `at` (lstat), to be written into
  // as it is, or says why it is refused.
  ErrorCode OpenInPlace(const struct stat& at);
  // Gives the complete new file its name; 0 or the errno.
  ErrorCode TakeName();

  int folder_fd_ = -1;  // O_PATH
  int fd_ = -1;
  bool in_place_ = false;  // fd_ is the target itself
  std::string name_;       // the target's name in the folder
  std::string temporary_;  // the new file's temporary name in the folder; empty: none (yet)
  FileFlush flush_ = FileFlush::None;
};

// Begin, Append(bytes) and Commit in one call, failing as they do.
ErrorCode WriteWholeFile(const std::string& path, std::string_view bytes,
                         const AtomicWriteOptions& options);

}  // namespace twinmere
