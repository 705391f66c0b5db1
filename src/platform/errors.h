// Error codes of the operating-system layer.
//
// Every file-system operation returns an ErrorCode: 0 on success, otherwise
// the error of the first call that failed: its errno value, and on Windows
// its Windows error number (GetLastError, or the native status turned into
// one). Nothing is thrown across the file-system layer. The codes that the
// program's logic tests have names here.
#pragma once

#include <cerrno>
#include <string>

namespace twinmere {

using ErrorCode = int;

inline constexpr ErrorCode kSuccess = 0;
#ifdef _WIN32
// The Windows error numbers of the same meanings (ERROR_FILE_NOT_FOUND,
// ERROR_PATH_NOT_FOUND, ERROR_NO_MORE_FILES, ERROR_ALREADY_EXISTS,
// ERROR_REQUEST_ABORTED, ERROR_ACCESS_DENIED, ERROR_DISK_FULL,
// ERROR_DIR_NOT_EMPTY, ERROR_NOT_SUPPORTED, ERROR_RETRY, ERROR_LOCK_VIOLATION,
// ERROR_STOPPED_ON_SYMLINK, ERROR_NOT_SAME_DEVICE), without the system's
// headers in every file.
inline constexpr ErrorCode kErrNotFound = 2;
inline constexpr ErrorCode kErrPathNotFound = 3;
inline constexpr ErrorCode kErrNoMoreEntries = 18;
inline constexpr ErrorCode kErrAlreadyExists = 183;
inline constexpr ErrorCode kErrCancelled = 1235;
inline constexpr ErrorCode kErrAccessDenied = 5;
inline constexpr ErrorCode kErrNoSpace = 112;
inline constexpr ErrorCode kErrNotEmpty = 145;
inline constexpr ErrorCode kErrNotSupported = 50;
inline constexpr ErrorCode kErrChangedMeanwhile = 1237;
inline constexpr ErrorCode kErrInUse = 33;
inline constexpr ErrorCode kErrLinkInPath = 681;
inline constexpr ErrorCode kErrCrossDevice = 17;
// A name of the path is a file where a folder should be (ERROR_DIRECTORY).
inline constexpr ErrorCode kErrNotAFolder = 267;
// ERROR_OPERATION_ABORTED, ERROR_INVALID_PARAMETER, ERROR_NO_UNICODE_TRANSLATION,
// ERROR_DIRECTORY_NOT_SUPPORTED, ERROR_FILE_TOO_LARGE (also for a value a store
// cannot keep), ERROR_FILENAME_EXCED_RANGE, ERROR_NOT_ENOUGH_MEMORY,
// ERROR_IO_DEVICE, ERROR_FILE_CORRUPT, ERROR_INVALID_HANDLE,
// ERROR_PRIVILEGE_NOT_HELD.
inline constexpr ErrorCode kErrInterrupted = 995;
inline constexpr ErrorCode kErrInvalidArgument = 87;
inline constexpr ErrorCode kErrInvalidText = 1113;
inline constexpr ErrorCode kErrIsAFolder = 336;
inline constexpr ErrorCode kErrFileTooLarge = 223;
inline constexpr ErrorCode kErrValueTooLarge = 223;
inline constexpr ErrorCode kErrNameTooLong = 206;
inline constexpr ErrorCode kErrNoMemory = 8;
inline constexpr ErrorCode kErrIoFailed = 1117;
inline constexpr ErrorCode kErrDamaged = 1392;
inline constexpr ErrorCode kErrNotOpen = 6;
inline constexpr ErrorCode kErrNotPermitted = 1314;
// ERROR_BUSY.
inline constexpr ErrorCode kErrBusy = 170;
#else
inline constexpr ErrorCode kErrNotFound = ENOENT;       // no such item
inline constexpr ErrorCode kErrPathNotFound = ENOTDIR;  // a folder of the path is missing or a file
inline constexpr ErrorCode kErrNoMoreEntries = ENODATA;  // end of a folder listing
inline constexpr ErrorCode kErrAlreadyExists = EEXIST;
inline constexpr ErrorCode kErrCancelled = ECANCELED;  // a copy stopped on request; never reported
inline constexpr ErrorCode kErrAccessDenied = EACCES;
inline constexpr ErrorCode kErrNoSpace = ENOSPC;
inline constexpr ErrorCode kErrNotEmpty = ENOTEMPTY;
inline constexpr ErrorCode kErrNotSupported = EOPNOTSUPP;
// An item changed while it was being read or acted on ("Resource temporarily
// unavailable": a later run finds it settled).
inline constexpr ErrorCode kErrChangedMeanwhile = EAGAIN;
// A file another holder keeps locked (FileSystem::LockFile).
inline constexpr ErrorCode kErrInUse = EBUSY;
// A path whose folders include a link below a confined root (never followed).
inline constexpr ErrorCode kErrLinkInPath = ELOOP;
// A rename between two file systems.
inline constexpr ErrorCode kErrCrossDevice = EXDEV;
// A name of the path is a file where a folder should be.
inline constexpr ErrorCode kErrNotAFolder = ENOTDIR;
// A call that a signal interrupted (a stop request): the caller looks at
// the stop flag before it tries again.
inline constexpr ErrorCode kErrInterrupted = EINTR;
// An argument, a name or stored data that the operation cannot take.
inline constexpr ErrorCode kErrInvalidArgument = EINVAL;
// Text that is not in the encoding it must be in (UTF-8).
inline constexpr ErrorCode kErrInvalidText = EILSEQ;
// A folder where a file is needed.
inline constexpr ErrorCode kErrIsAFolder = EISDIR;
// A file larger than the operation reads.
inline constexpr ErrorCode kErrFileTooLarge = EFBIG;
// A value larger than a store keeps.
inline constexpr ErrorCode kErrValueTooLarge = E2BIG;
inline constexpr ErrorCode kErrNameTooLong = ENAMETOOLONG;
inline constexpr ErrorCode kErrNoMemory = ENOMEM;
// The device failed to read or write.
inline constexpr ErrorCode kErrIoFailed = EIO;
// A stored file that is damaged, or not of the kind it should be.
inline constexpr ErrorCode kErrDamaged = EBADMSG;
// An object used while it holds nothing open.
inline constexpr ErrorCode kErrNotOpen = EBADF;
// An operation that only the item's owner, or a privileged process, may do.
inline constexpr ErrorCode kErrNotPermitted = EPERM;
// An item the system holds and will not let go: a root, a mount point.
inline constexpr ErrorCode kErrBusy = EBUSY;
#endif

// An item that the run deletes or replaces could not be kept where deleted
// items go (a volume without a usable Trash), and the run has said why
// once: it stays as it is, and no further line is shown for it. Outside the
// range of errno values and of Windows error numbers.
inline constexpr ErrorCode kErrNoPlaceToKeep = 0x10000;

// True for the lookup errors that mean "the item is not there".
inline bool IsMissingError(ErrorCode code) {
  return code == kErrNotFound || code == kErrPathNotFound || code == kErrNotAFolder;
}

// The system's text for an error code ("Permission denied", "Access is
// denied."). Never fails:
// an unknown code gives the system's text for unknown errors.
std::string SystemErrorText(ErrorCode code);

}  // namespace twinmere
