// Copies of files and links on Windows. The new contents go to a temporary
// file beside the target, which gets the Source's attributes, times and
// (as asked) security, reaches the disk (FlushFileBuffers) and only then
// takes the target's name, through its own handle: a stop, a failure or a
// killed process leaves the old target as it was. The rename names its new
// place relative to the handle of the target's folder, so no link can lead
// it elsewhere.
#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/temporary_names.h"
#include "platform/win32/file_system_win32_internal.h"
#include "platform/win32/text_win32.h"

namespace twinmere::win32 {
namespace {

constexpr DWORD kChunkBytes = 1u << 20;

bool Stopped(const CopyOptions& options) {
  return options.stop != nullptr && options.stop->load() != 0;
}

struct SourceFacts {
  FILE_BASIC_INFO basic{};
  FILE_STANDARD_INFO standard{};
  DWORD tag = 0;
};

ErrorCode ReadFacts(HANDLE item, SourceFacts& facts) {
  if (!GetFileInformationByHandleEx(item, FileBasicInfo, &facts.basic, sizeof facts.basic) ||
      !GetFileInformationByHandleEx(item, FileStandardInfo, &facts.standard, sizeof facts.standard))
    return LastError();
  facts.tag = 0;
  if (facts.basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    FILE_ATTRIBUTE_TAG_INFO tags{};
    if (!GetFileInformationByHandleEx(item, FileAttributeTagInfo, &tags, sizeof tags))
      return LastError();
    facts.tag = tags.ReparseTag;
  }
  return 0;
}

bool IsLinkTag(const SourceFacts& facts) {
  return (facts.basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (facts.tag & 0x20000000) != 0;
}

// Copies bytes [from, to) of `source` to the same places of `target`,
// reporting the place reached after each chunk. `at` is left where the copy
// stopped: short of `to` when the source ended early.
ErrorCode CopyRange(HANDLE source, HANDLE target, uint64_t& at, uint64_t to,
                    const CopyOptions& options, std::unique_ptr<char[]>& buffer) {
  if (buffer == nullptr) buffer.reset(new char[kChunkBytes]);
  while (at < to) {
    if (Stopped(options)) return kErrCancelled;
    const DWORD want = static_cast<DWORD>(std::min<uint64_t>(to - at, kChunkBytes));
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(at);
    place.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(source, buffer.get(), want, &got, &place)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return LastError();
    }
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(target, buffer.get(), got, &written, &place)) return LastError();
    if (written != got) return kErrNoSpace;
    at += got;
    if (options.progress != nullptr) options.progress->SetProgress(at);
  }
  return 0;
}

// The contents of `source` (`size` bytes as seen before) into the empty
// `target`. A sparse file keeps its holes: only its allocated ranges are
// copied, and the copy is given the size. `copied` is the copy's size.
ErrorCode CopyData(HANDLE source, HANDLE target, const SourceFacts& facts,
                   const CopyOptions& options, uint64_t& copied) {
  std::unique_ptr<char[]> buffer;
  const auto size = static_cast<uint64_t>(facts.standard.EndOfFile.QuadPart);
  copied = 0;
  DWORD returned = 0;
  if ((facts.basic.FileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) &&
      DeviceIoControl(target, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr)) {
    FILE_ALLOCATED_RANGE_BUFFER asked{};
    asked.Length.QuadPart = static_cast<LONGLONG>(size);
    std::vector<FILE_ALLOCATED_RANGE_BUFFER> ranges(64);
    bool listed = false;
    while (!listed) {
      if (DeviceIoControl(source, FSCTL_QUERY_ALLOCATED_RANGES, &asked, sizeof asked, ranges.data(),
                          static_cast<DWORD>(ranges.size() * sizeof(FILE_ALLOCATED_RANGE_BUFFER)),
                          &returned, nullptr)) {
        ranges.resize(returned / sizeof(FILE_ALLOCATED_RANGE_BUFFER));
        listed = true;
      } else if (GetLastError() == ERROR_MORE_DATA) {
        ranges.resize(ranges.size() * 2);
      } else {
        break;  // no way to tell the holes: all of it
      }
    }
    if (listed) {
      for (const FILE_ALLOCATED_RANGE_BUFFER& range : ranges) {
        uint64_t at = static_cast<uint64_t>(range.FileOffset.QuadPart);
        const uint64_t end = std::min(size, at + static_cast<uint64_t>(range.Length.QuadPart));
        if (const ErrorCode code = CopyRange(source, target, at, end, options, buffer); code != 0)
          return code;
        if (at < end) return kErrChangedMeanwhile;  // the file ended early
      }
      FILE_END_OF_FILE_INFO end{};
      end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
      if (!SetFileInformationByHandle(target, FileEndOfFileInfo, &end, sizeof end))
        return LastError();
      copied = size;
      return 0;
    }
  }
  // Up to where the file ends, which may be past the size seen: the check
  // afterwards tells.
  return CopyRange(source, target, copied, UINT64_MAX, options, buffer);
}

// The named streams of a file go with it, like the extended attributes on
// Linux; one that cannot be carried fails nothing.
void CopyNamedStreams(HANDLE source, HANDLE target, const CopyOptions& options) {
  std::vector<DWORD> buffer(16 * 1024);
  if (!GetFileInformationByHandleEx(source, FileStreamInfo, buffer.data(),
                                    static_cast<DWORD>(buffer.size() * sizeof(DWORD))))
    return;
  const char* at = reinterpret_cast<const char*>(buffer.data());
  for (;;) {
    const auto& entry = *reinterpret_cast<const FILE_STREAM_INFO*>(at);
    const std::wstring_view name(entry.StreamName, entry.StreamNameLength / sizeof(WCHAR));
    if (name != L"::$DATA" && name.ends_with(L":$DATA")) {
      Handle from, to;
      if (OpenRelative(source, name, {FILE_READ_DATA, FILE_OPEN, FILE_NON_DIRECTORY_FILE}, from) ==
              0 &&
          OpenRelative(target, name, {GENERIC_WRITE, FILE_OVERWRITE_IF, FILE_NON_DIRECTORY_FILE},
                       to) == 0) {
        CopyOptions quiet;
        quiet.stop = options.stop;
        std::unique_ptr<char[]> chunk;
        uint64_t copied = 0;
        CopyRange(from.get(), to.get(), copied, UINT64_MAX, quiet, chunk);
      }
    }
    if (entry.NextEntryOffset == 0) break;
    at += entry.NextEntryOffset;
  }
}

// A Source that changed while it was copied gave a copy of no version it
// ever had.
ErrorCode CheckUnchanged(HANDLE source, uint64_t copied, const SourceFacts& before) {
  SourceFacts now;
  if (const ErrorCode code = ReadFacts(source, now); code != 0) return code;
  if (now.standard.EndOfFile.QuadPart != before.standard.EndOfFile.QuadPart ||
      now.basic.LastWriteTime.QuadPart != before.basic.LastWriteTime.QuadPart ||
      now.basic.ChangeTime.QuadPart != before.basic.ChangeTime.QuadPart ||
      copied != static_cast<uint64_t>(before.standard.EndOfFile.QuadPart))
    return kErrChangedMeanwhile;
  return 0;
}

// Gives the open new item its attributes and the Source's access and
// modification times; the creation time is the copy's own, as CopyFileExW
// leaves it.
ErrorCode GiveAttributesAndTimes(HANDLE item, DWORD attributes, const FILE_BASIC_INFO& times) {
  FILE_BASIC_INFO change{};
  change.LastAccessTime = times.LastAccessTime;
  change.LastWriteTime = times.LastWriteTime;
  change.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(item, FileBasicInfo, &change, sizeof change) ? 0 : LastError();
}

// A new link under a temporary name in `folder`: a file or a folder as the
// Source link is, with its reparse data, the attributes of `kept` it has,
// and its times.
ErrorCode MakeLink(HANDLE folder, DWORD kept, const std::string& data, const SourceFacts& facts,
                   Handle& link, std::wstring& name) {
  const bool folder_link = (facts.basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!folder_link) {
    if (const ErrorCode code = CreateTemporaryFile(folder, 0, link, name); code != 0) return code;
  } else {
    ErrorCode code = kErrAlreadyExists;
    for (int attempt = 0; attempt < 100 && code == kErrAlreadyExists; ++attempt) {
      Utf8ToWide(NewTemporaryName(), name);
      code = OpenRelative(folder, name,
                          {GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_CREATE,
                           FILE_DIRECTORY_FILE, FILE_ATTRIBUTE_DIRECTORY},
                          link);
    }
    if (code != 0) return code;
  }
  DWORD returned = 0;
  ErrorCode code = 0;
  if (!DeviceIoControl(link.get(), FSCTL_SET_REPARSE_POINT, const_cast<char*>(data.data()),
                       static_cast<DWORD>(data.size()), nullptr, 0, &returned, nullptr))
    code = LastError();
  if (code == 0)
    code = GiveAttributesAndTimes(link.get(), facts.basic.FileAttributes & kept, facts.basic);
  if (code != 0) DiscardOpen(link.get());
  return code;
}

}  // namespace

ErrorCode WinFileSystem::CopyFile(const std::string& from, const std::string& to,
                                  const CopyOptions& options) {
  const Call call(*this);
  if (options.old_kept != nullptr) *options.old_kept = false;
  if (options.security_given != nullptr) *options.security_given = false;
  Folder* from_folder = nullptr;
  Folder* to_folder = nullptr;
  std::wstring from_name, to_name;
  if (const ErrorCode code = ResolveParent(from, from_folder, from_name); code != 0) return code;
  if (const ErrorCode code = ResolveParent(to, to_folder, to_name); code != 0) return code;
  if (!IsPlainName(from_name) || !IsPlainName(to_name)) return ERROR_INVALID_NAME;
  NoteWritten(*to_folder);

  // Others may read the Source meanwhile, and delete or rename it, but not
  // write it: a file open for writing elsewhere fails the copy with a
  // sharing violation, and a later run copies it.
  Handle source;
  if (const ErrorCode code = OpenRelative(
          from_folder->handle.get(), from_name,
          {FILE_READ_DATA | FILE_READ_ATTRIBUTES | (options.carry_owner ? READ_CONTROL : 0u),
           FILE_OPEN, FILE_OPEN_REPARSE_POINT | FILE_SEQUENTIAL_ONLY, 0,
           FILE_SHARE_READ | FILE_SHARE_DELETE},
          source);
      code != 0)
    return code;
  SourceFacts facts;
  if (const ErrorCode code = ReadFacts(source.get(), facts); code != 0) return code;
  if (facts.tag == kReparseTagAfUnix) return kErrNotSupported;
  if (IsLinkTag(facts)) {
    if (Stopped(options)) return kErrCancelled;
    std::string data;
    if (const ErrorCode code = ReadReparseData(source.get(), data); code != 0) return code;
    return CopyLink(source.get(), data, *to_folder, to_name, options);
  }
  if (facts.standard.Directory) return kErrorDirectoryNotSupported;
  const DWORD kept =
      FolderVolume(*to_folder) ? KeptAttributes(to_folder->volume) : kWrittenAttributes;

  const Security* security = options.security;
  const bool with_sacl = security != nullptr && HoldsSacl(security->descriptor) && SaclAccess();
  Handle target;
  std::wstring temporary;
  if (const ErrorCode code = CreateTemporaryFile(
          to_folder->handle.get(),
          (security != nullptr || options.carry_owner ? WRITE_DAC | WRITE_OWNER : 0u) |
              (with_sacl ? ACCESS_SYSTEM_SECURITY : 0u),
          target, temporary);
      code != 0)
    return code;
  const auto fail = [&target](ErrorCode code) {
    DiscardOpen(target.get());
    return code;
  };

  uint64_t copied = 0;
  if (const ErrorCode code = CopyData(source.get(), target.get(), facts, options, copied);
      code != 0)
    return fail(code);
  if (const ErrorCode code = CheckUnchanged(source.get(), copied, facts); code != 0)
    return fail(code);
  CopyNamedStreams(source.get(), target.get(), options);
  if (security != nullptr) {
    // Where it cannot be given here, the security step after the copy
    // tells why.
    if (WriteDescriptor(target.get(), security->descriptor, with_sacl) == 0 &&
        options.security_given != nullptr)
      *options.security_given = true;
  } else if (options.carry_owner) {
    if (const ErrorCode code = CopyOwner(source.get(), target.get()); code != 0) return fail(code);
  }
  const DWORD attributes =
      security != nullptr ? AttributesFromMode(options.security_mode) : facts.basic.FileAttributes;
  if (const ErrorCode code = GiveAttributesAndTimes(target.get(), attributes & kept, facts.basic);
      code != 0)
    return fail(code);
  if (Stopped(options)) return fail(kErrCancelled);
  if (!FlushFileBuffers(target.get())) return fail(LastError());
  // The old file is kept before the new one takes its name: at every moment
  // it is under its own name, or kept, or both.
  if (options.keep_old_as != nullptr) {
    if (const ErrorCode code = KeepOld(*to_folder, to_name, options); code != 0) return fail(code);
  }
  if (const ErrorCode code =
          RenameOpen(target.get(), to_folder->handle.get(), to_name, !options.no_replace);
      code != 0)
    return fail(code);
  return 0;
}

ErrorCode WinFileSystem::CopyLink(HANDLE source, const std::string& data, Folder& to_folder,
                                  const std::wstring& to_name, const CopyOptions& options) {
  SourceFacts facts;
  if (const ErrorCode code = ReadFacts(source, facts); code != 0) return code;
  const DWORD kept =
      FolderVolume(to_folder) ? KeptAttributes(to_folder.volume) : kWrittenAttributes;
  Handle link;
  std::wstring temporary;
  if (const ErrorCode code = MakeLink(to_folder.handle.get(), kept, data, facts, link, temporary);
      code != 0)
    return code;
  ErrorCode code = 0;
  if (options.carry_owner) code = CopyOwner(source, link.get());
  if (code == 0 && options.keep_old_as != nullptr) code = KeepOld(to_folder, to_name, options);
  if (code == 0)
    code = RenameOpen(link.get(), to_folder.handle.get(), to_name, !options.no_replace);
  if (code != 0) {
    DiscardOpen(link.get());
    return code;
  }
  std::string text;
  if (options.progress != nullptr && LinkText(data, text) == 0)
    options.progress->SetProgress(text.size());
  return 0;
}

ErrorCode WinFileSystem::KeepOld(Folder& folder, const std::wstring& name,
                                 const CopyOptions& options) {
  Handle old;
  const ErrorCode opened =
      OpenRelative(folder.handle.get(), name,
                   {FILE_READ_DATA | FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_OPEN,
                    FILE_OPEN_REPARSE_POINT, 0, FILE_SHARE_READ | FILE_SHARE_DELETE},
                   old);
  if (IsMissingError(opened)) return 0;  // nothing to keep
  if (opened != 0) return opened;
  SourceFacts facts;
  if (const ErrorCode code = ReadFacts(old.get(), facts); code != 0) return code;
  if (facts.standard.Directory && !IsLinkTag(facts)) return 0;  // the rename fails on it
  SystemPath keep;
  if (const ErrorCode code = ToSystemPath(*options.keep_old_as, keep); code != 0) return code;
  Handle keep_folder;
  std::wstring keep_name;
  if (const ErrorCode code = OpenParent(keep, keep_folder, keep_name); code != 0) return code;
  if (!IsPlainName(keep_name)) return ERROR_INVALID_NAME;

  // A hard link where the file system allows one: it is the item itself.
  const size_t bytes = keep_name.size() * sizeof(WCHAR);
  std::vector<char> buffer(offsetof(FileLinkOrRenameInformation, FileName) + bytes + sizeof(WCHAR));
  auto* link = reinterpret_cast<FileLinkOrRenameInformation*>(buffer.data());
  link->ReplaceIfExists = FALSE;
  link->RootDirectory = keep_folder.get();
  link->FileNameLength = static_cast<ULONG>(bytes);
  std::memcpy(link->FileName, keep_name.data(), bytes);
  IO_STATUS_BLOCK io{};
  const NTSTATUS status =
      NtSetInformationFile(old.get(), &io, link, static_cast<ULONG>(buffer.size()),
                           static_cast<FILE_INFORMATION_CLASS>(kFileLinkInformation));
  ErrorCode code = NT_SUCCESS(status) ? 0 : FromStatus(status);
  VolumeFacts volume;
  const bool volume_known = ReadVolumeFacts(keep_folder.get(), volume) == 0;
  // Another volume, or one without hard links: a copy.
  if (code == kErrCrossDevice || code == ERROR_INVALID_FUNCTION || code == kErrNotSupported ||
      code == ERROR_TOO_MANY_LINKS || code == ERROR_INVALID_PARAMETER)
    code =
        CopyToKeep(old.get(), keep_folder.get(),
                   volume_known ? KeptAttributes(volume) : kWrittenAttributes, keep_name, options);
  if (code != 0) return code;
  if (volume_known &&
      std::none_of(written_.begin(), written_.end(),
                   [&](const WrittenFileSystem& w) { return w.device == volume.serial; }))
    written_.push_back({volume.serial, ShownPath(keep.Parent().text)});
  if (options.old_kept != nullptr) *options.old_kept = true;
  return 0;
}

// A fail-safe copy of the old item `old` into the keep folder, on its disk
// before the old item leaves its name. What the volume of the kept copy
// cannot take (an owner) does not keep it from holding the contents.
ErrorCode WinFileSystem::CopyToKeep(HANDLE old, HANDLE keep_folder, DWORD kept,
                                    const std::wstring& keep_name, const CopyOptions& options) {
  SourceFacts facts;
  if (const ErrorCode code = ReadFacts(old, facts); code != 0) return code;
  Handle target;
  std::wstring temporary;
  if (IsLinkTag(facts)) {
    std::string data;
    if (const ErrorCode code = ReadReparseData(old, data); code != 0) return code;
    if (const ErrorCode code = MakeLink(keep_folder, kept, data, facts, target, temporary);
        code != 0)
      return code;
  } else {
    if (const ErrorCode code = CreateTemporaryFile(
            keep_folder, options.carry_owner ? WRITE_DAC | WRITE_OWNER : 0u, target, temporary);
        code != 0)
      return code;
    CopyOptions quiet;  // the progress shown is the new file's
    quiet.stop = options.stop;
    uint64_t copied = 0;
    ErrorCode code = CopyData(old, target.get(), facts, quiet, copied);
    if (code == 0) code = CheckUnchanged(old, copied, facts);
    if (code == 0) {
      CopyNamedStreams(old, target.get(), quiet);
      code = GiveAttributesAndTimes(target.get(), facts.basic.FileAttributes & kept, facts.basic);
    }
    if (code == 0 && !FlushFileBuffers(target.get())) code = LastError();
    if (code != 0) {
      DiscardOpen(target.get());
      return code;
    }
  }
  if (options.carry_owner) CopyOwner(old, target.get());
  if (const ErrorCode code = RenameOpen(target.get(), keep_folder, keep_name, false); code != 0) {
    DiscardOpen(target.get());
    return code;
  }
  return 0;
}

// Folders carry no more than their attributes and times here, which the
// folder steps give them; both folders are opened all the same, and a link
// in either place fails.
ErrorCode WinFileSystem::CopyFolderAttributes(const std::string& from, const std::string& to,
                                              const CopyOptions& options) {
  const Call call(*this);
  (void)options;
  for (const std::string* path : {&from, &to}) {
    Folder* parent = nullptr;
    std::wstring name;
    if (const ErrorCode code = ResolveParent(*path, parent, name); code != 0) return code;
    Handle folder;
    if (const ErrorCode code = OpenRelative(
            parent->handle.get(), name,
            {FILE_READ_ATTRIBUTES, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT},
            folder);
        code != 0)
      return code;
    SourceFacts facts;
    if (const ErrorCode code = ReadFacts(folder.get(), facts); code != 0) return code;
    if (IsLinkTag(facts)) return kErrNotAFolder;
  }
  return 0;
}

}  // namespace twinmere::win32
