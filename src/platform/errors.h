// Error codes of the operating-system layer.
//
// Every file-system operation returns an ErrorCode: 0 on success, otherwise
// the errno value of the first call that failed. Nothing is thrown across the
// file-system layer. The codes that the program's logic tests have names here.
#pragma once

#include <cerrno>
#include <string>

namespace twinmere {

using ErrorCode = int;

inline constexpr ErrorCode kSuccess = 0;
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
// A call that a signal interrupted (a stop request): the caller looks at
// the stop flag before it tries again.
inline constexpr ErrorCode kErrInterrupted = EINTR;
// An argument, a name or stored data that the operation cannot take.
inline constexpr ErrorCode kErrInvalidArgument = EINVAL;
// Text that is not in the encoding it must be in (UTF-8).
inline constexpr ErrorCode kErrInvalidText = EILSEQ;
// A folder where a file is needed.
inline constexpr ErrorCode kErrIsAFolder = EISDIR;
// A file where a folder is needed.
inline constexpr ErrorCode kErrNotAFolder = ENOTDIR;
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
// A rename between two file systems.
inline constexpr ErrorCode kErrCrossDevice = EXDEV;
// A path whose folders include a link that is not followed.
inline constexpr ErrorCode kErrLinkInPath = ELOOP;
// An operation that only the item's owner, or a privileged process, may do.
inline constexpr ErrorCode kErrNotPermitted = EPERM;

// An item that the run deletes or replaces could not be kept where deleted
// items go (a volume without a usable Trash), and the run has said why
// once: it stays as it is, and no further line is shown for it. Outside the
// range of errno values.
inline constexpr ErrorCode kErrNoPlaceToKeep = 0x10000;

// True for the lookup errors that mean "the item is not there".
inline bool IsMissingError(ErrorCode code) {
  return code == kErrNotFound || code == kErrPathNotFound;
}

// The system's text for an error code ("Permission denied"). Never fails:
// an unknown code gives the system's text for unknown errors.
std::string SystemErrorText(ErrorCode code);

}  // namespace twinmere
