// What a run does to the current item of a walk and to its counterpart: copy
// (or create a folder), replace, delete, move to the keeper's place, and give
// security, mode and times. The enumerator (fs/files_enumerator.h) knows the
// item and looks the counterpart up; these operations act on them through it
// and tell it when the counterpart changed, so that its cache never answers
// for an item that is gone.
//
// With a keeper in the enumerator's context, a file or link that CopyTo
// replaces and an item that DeleteItem or DeleteOther deletes go to their
// place first: the old item is kept before it leaves its name, and stays
// where it is when it cannot be kept (the keeper's error is returned).
//
// All operations return an ErrorCode (0 = success); nothing throws. Links are
// never followed (platform/file_system.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "fs/files_enumerator.h"
#include "platform/errors.h"
#include "platform/file_system.h"

namespace twinmere {

// The progress of a copy that runs on another thread: the bytes it has
// copied so far, read by the walk's thread.
class CopyProgress final : public IProgress {
 public:
  void SetProgress(uint64_t bytes_copied) override {
    bytes_.store(bytes_copied, std::memory_order_relaxed);
  }
  uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  std::atomic<uint64_t> bytes_{0};
};

// A copy of a file made on behalf of an enumerator's item (CopyTo), or
// running beside the walk (StartCopyTo): what it needs and tells until it
// ends, when the walk has long gone on.
struct StartedCopy {
  std::string from;   // the item
  std::string to;     // the counterpart
  uint32_t mode = 0;  // the item's permission mode
  CopyOptions options;
  CopyProgress progress;  // of a copy running beside the walk
  Security security;      // the item's, given with the copy, where read
  bool security_read = false;
  bool security_given = false;  // the copy gave it (CopyOptions::security_given)
  // The counterpart's read-only bit was cleared for the copy; its mode before.
  bool cleared = false;
  uint32_t old_mode = 0;
  bool name_free = false;  // no counterpart was there
};

// Copies the current file of `e` to `path`, or creates the folder there.
// Where `carried_security` is given, it tells whether the copy of a file was
// given the item's security and then its mode on its way, while security is
// handled (CopySecurityTo and SetAttributesOn have nothing to add).
ErrorCode CopyTo(FilesEnumerator& e, const std::string& path, bool* carried_security = nullptr);
// CopyTo of a file, started in `pool` under `tag` (CopyPool::Start) and
// left to run: 0 when it runs. `copy` stays where it is until EndCopy
// after the pool gave its result, or at once when it did not start. A
// copy to a name that was free takes it only while it still is
// (CopyOptions::no_replace): copies running at once never replace each
// other's, whatever names the file system takes for the same.
ErrorCode StartCopyTo(FilesEnumerator& e, const std::string& path, CopyPool& pool, uint64_t tag,
                      StartedCopy& copy);
// After a copy of a file ended with `code`: a failed copy gives the
// counterpart back the read-only bit it had. Returns `code`.
ErrorCode EndCopy(FileSystem& fs, const StartedCopy& copy, ErrorCode code);

// The item's permission mode on the item at `path`.
ErrorCode SetAttributesOn(FilesEnumerator& e, const std::string& path);
// The permission bits of `mode` on the item at `path`.
ErrorCode SetFileAttributesOf(FilesEnumerator& e, const std::string& path, uint32_t mode);
// The item's access and modification times on the item at `path`.
ErrorCode SetFolderTimesOn(FilesEnumerator& e, const std::string& path);
// Gives the counterpart, found through `path`, the item's name: a change of
// letter case only. Succeeds at once when the names are equal already.
ErrorCode RenameOtherToItemName(FilesEnumerator& e, const std::string& path);
// The item found through `path` answers to it by an alias that is not its
// name: it leaves and comes back under its own name, so that it gets another
// alias. `other_path` names it.
ErrorCode FreeShortName(FilesEnumerator& e, const std::string& path, std::string& other_path);
ErrorCode DeleteItem(FilesEnumerator& e);
ErrorCode DeleteOther(FilesEnumerator& e, const std::string& path);
// Deletes the counterpart folder at `path` that a walk has just emptied. Where
// it is kept, it keeps the times of `as_found` (the folder as listed before
// its contents went), not those the emptying gave it. Fails as DeleteOther.
ErrorCode DeleteEmptiedOther(FilesEnumerator& e, const std::string& path, const ItemInfo& as_found);
// The item's security on the item at `path`; only while the context's
// security_support is on (else nothing, and 0).
ErrorCode CopySecurityTo(FilesEnumerator& e, const std::string& path);

// Checks that CAP_CHOWN, CAP_FOWNER and CAP_DAC_OVERRIDE are effective.
// Returns 0, or kErrNotPermitted when one is missing.
ErrorCode EnablePrivileges();
// The volume under `path` keeps owners and ACLs.
bool VolumeSupportsAcls(FileSystem& fs, const std::string& path);

}  // namespace twinmere
