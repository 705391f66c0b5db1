// Small routines on path strings: separator rules, the stored and short forms
// of a path, folder tests, quoting, and where the program keeps its files.
//
// Paths are byte strings with "/" as separator, on Windows too; the root is
// "/", on Windows a drive ("C:/") or a share ("//server/share/"), and keeps
// its "/" (platform/path_syntax.h). A folder path as the options and the
// enumerator hold it ends in "/". None of these routines throws; the ones
// that touch the disk go through a FileSystem and never follow a final
// symbolic link.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/process_paths.h"

namespace twinmere {

inline constexpr char kSeparator = '/';
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// Which name of an item a path form carries.
enum class NameForm {
  Short,  // the item's short alias where the file system keeps one, else its name
  Long,   // the name as stored on disk, letter case included
};

// The path as every file-system call takes it. There is one path type here, so
// this is the path unchanged. Never fails.
std::string LongPathForm(const std::string& path);

// The path ending in one "/"; an empty path stays empty. Never fails.
std::string AddSeparator(const std::string& path);

// The folder part of a path: up to and including its last "/"; empty when
// the path has no "/". Never fails.
std::string FolderPart(const std::string& path);

// The path without its trailing "/", except a root ("/", "C:/") which keeps
// it; an empty path stays empty. Removes one separator only. Never fails.
std::string RemoveSeparator(const std::string& path);

// The attribute word of a file, folder or link (ItemInfo::Attributes: folder
// bit 0x10, read-only bit 0x1), or kInvalidAttributes when the lookup fails for
// any reason. A trailing "/" is ignored. A final link is not followed: a link
// to a folder has no folder bit.
uint32_t GetAttributes(FileSystem& fs, const std::string& path);

// Whether the final component of a path is followed when it is a link: a
// folder the user names (Source, Target, a dropped folder) is taken as
// written, a link to a folder naming that folder; elsewhere a link is itself.
enum class FinalLink : uint8_t { Follow, NotFollowed };

// True when `path` names an existing folder, or with FinalLink::Follow a
// link to one, or (when the folder cannot be looked up) a network share
// itself (IsShareRoot). Never fails: an empty path or a failed lookup gives
// false.
bool FolderExists(FileSystem& fs, const std::string& path, FinalLink link);

// True when `path` names a network share itself: "//server/share" on
// Windows, where the network knows it as a disk share. Network file systems
// appear as mounted folders on Linux, so there it is always false.
bool IsShareRoot(const std::string& path);

// The folder path (ending in "/") with each component replaced by the item's
// short alias (Short; the stored name where there is no alias) or by the name as
// stored on disk (Long), component by component. This matters on
// case-insensitive file systems, where a path may be written in another case.
// A component that cannot be looked up (missing, no access, any error) keeps
// its written text, as do "." and ".." and empty components; the first
// component of a relative path is kept as written. Links are looked up, never
// followed. A path without a trailing "/" is handled alike and gets none.
// Never fails.
std::string FolderForm(FileSystem& fs, const std::string& path, NameForm form);

// The same for a file path: the last component too is replaced by the looked-up
// name (kept as written when missing). A path without "/" is returned
// unchanged; a path that ends in "/" is treated as a folder path. Never fails.
std::string PathForm(FileSystem& fs, const std::string& path, NameForm form);

// FolderForm(fs, path, NameForm::Long).
std::string LongFolderForm(FileSystem& fs, const std::string& path);

// The containing folder without a trailing "/": "/a/b" gives "/a", "/a" gives
// the root "/" ("C:/a" gives "C:/"), a path without "/" gives an empty text.
// Never fails.
std::string ParentFolder(const std::string& path);

// The text between a leading double quote and the next one; a text that begins
// with a double quote but has no closing one gives an empty text. A text that
// does not begin with a double quote is returned unchanged.
std::string Unquote(const std::string& text);

// The text in double quotes when it contains a blank (the space character),
// else unchanged.
std::string QuoteIfBlank(const std::string& text);

// A bare file name (not empty, no "/" anywhere, no root) placed into `program_folder`,
// the program's state folder; unchanged when the folder is empty or the name is
// not bare. Nothing is created here. Never fails.
std::string QualifyName(const std::string& name, const std::string& program_folder);

// The folder that holds the running executable (ExecutablePath), without a
// trailing "/", or an empty text when it cannot be read. The working folder
// is WorkingFolder (platform/process_paths.h).
std::string GetInstallFolder();

// `path` as an absolute path: unchanged when it is empty or absolute
// (IsAbsolutePath), else `folder` with a "/" added and `path` after it, byte
// for byte (nothing resolved or removed: "." and ".." stay). On Windows
// "/name" gets the drive of `folder` ("C:/name"), and "C:name" stays as it
// is (the system resolves it). Unchanged when `folder` is empty. Never
// fails.
std::string AbsolutePath(const std::string& path, const std::string& folder);

}  // namespace twinmere
