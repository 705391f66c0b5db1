#include "engine/kept_items.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <mutex>
#include <utility>

#include "fs/folder_identity.h"
#include "fs/paths.h"
#include "platform/local_time.h"
#include "platform/path_syntax.h"
#include "report/action_lines.h"

namespace twinmere {
namespace {

CalendarTime LocalTime(double seconds) {
  CalendarTime local;
  if (!ToLocalTime(static_cast<int64_t>(std::floor(seconds)), local)) ToLocalTime(0, local);
  return local;
}

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The last component of a path without a trailing "/".
std::string BaseName(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

// What is gone already (another run removing the same folder) counts as
// removed.
ErrorCode Removed(ErrorCode code) {
  return IsMissingError(code) ? kSuccess : code;
}

// Removes everything in a folder but the item named `spared` (none when
// empty), through the file system; owner write and search permission are
// given to folders that lack them. The first error, after trying everything.
ErrorCode RemoveContents(FileSystem& fs, const std::string& folder, const std::string& spared) {
  ItemInfo info;
  if (const ErrorCode code = fs.Lookup(folder, info); code != kSuccess) return Removed(code);
  if ((info.mode & 0700) != 0700) fs.SetMode(folder, info.mode | 0700);
  std::vector<ItemInfo> items;
  {
    std::unique_ptr<FolderReader> reader;
    if (const ErrorCode code = fs.OpenFolder(folder + "/", reader); code != kSuccess)
      return Removed(code);
    ItemInfo item;
    ErrorCode code = kSuccess;
    while ((code = reader->Next(item)) == kSuccess)
      if (item.name != spared) items.push_back(item);
    if (code != kErrNoMoreEntries) return code;
  }
  ErrorCode first = kSuccess;
  for (const ItemInfo& item : items) {
    const std::string path = folder + "/" + item.name;
    ErrorCode code = kSuccess;
    if (item.IsFolder()) {
      code = RemoveContents(fs, path, "");
      if (code == kSuccess) code = Removed(fs.RemoveFolder(path));
    } else {
      code = Removed(fs.DeleteFile(path));
    }
    if (first == kSuccess) first = code;
  }
  return first;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

int Number(std::string_view digits) {
  int n = 0;
  for (const char c : digits) n = n * 10 + (c - '0');
  return n;
}

// The longest name of a Trash entry: "name.NNNNN.trashinfo" must fit the
// 255 bytes that file systems allow.
constexpr size_t kMaxTrashName = 255 - std::string_view(".trashinfo").size() - 6;

// `name` cut to kMaxTrashName bytes, keeping a short extension, and never
// inside a UTF-8 sequence.
std::string TrashName(const std::string& name) {
  if (name.size() <= kMaxTrashName) return name;
  constexpr size_t kMaxExtension = 16;
  const size_t dot = name.rfind('.');
  const std::string extension =
      dot != std::string::npos && dot > 0 && name.size() - dot <= kMaxExtension ? name.substr(dot)
                                                                                : std::string();
  size_t cut = kMaxTrashName - extension.size();
  for (int back = 0; back < 3 && cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80;
       ++back)
    --cut;
  return name.substr(0, cut) + extension;
}

}  // namespace

std::string RunFolderName(double seconds) {
  const CalendarTime t = LocalTime(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02d-%02d %02d%02d%02d", static_cast<long long>(t.year),
                t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

bool IsRunFolderName(std::string_view name, uint32_t* order) {
  constexpr size_t kLength = 17;  // "YYYY-MM-DD HHMMSS"
  if (name.size() < kLength) return false;
  for (size_t i = 0; i < kLength; ++i) {
    const char c = name[i];
    const bool ok = i == 4 || i == 7 ? c == '-' : i == 10 ? c == ' ' : c >= '0' && c <= '9';
    if (!ok) return false;
  }
  const int year = Number(name.substr(0, 4));
  const int month = Number(name.substr(5, 2));
  const int day = Number(name.substr(8, 2));
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
      Number(name.substr(11, 2)) > 23 || Number(name.substr(13, 2)) > 59 ||
      Number(name.substr(15, 2)) > 60)
    return false;
  uint32_t n = 1;
  if (name.size() > kLength) {
    const std::string_view suffix = name.substr(kLength + 1);
    if (name[kLength] != '-' || !AllDigits(suffix) || suffix[0] == '0' || suffix.size() > 9)
      return false;
    n = static_cast<uint32_t>(std::stoul(std::string(suffix)));
    if (n < 2) return false;
  }
  if (order != nullptr) *order = n;
  return true;
}

namespace {
constexpr std::string_view kRunMarkTitle = "[Twinmere run folder]\n";
constexpr std::string_view kStartedKey = "\nStarted=";
}  // namespace

std::string RunMarkText(double seconds) {
  char started[64];
  std::snprintf(started, sizeof started, "%.6f", seconds);
  return std::string(kRunMarkTitle) +
         "# The run's start in seconds since 1970-01-01 00:00:00 UTC, by which\n"
         "# retention orders run folders. While the run goes on, it keeps this\n"
         "# file locked, and no other run removes the folder." +
         std::string(kStartedKey) + started + "\n";
}

std::optional<double> RunMarkStart(std::string_view text) {
  if (!text.starts_with(kRunMarkTitle)) return std::nullopt;
  const size_t at = text.find(kStartedKey);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view value = text.substr(at + kStartedKey.size());
  double seconds = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
  if (error != std::errc() || end == value.data() ||
      (end != value.data() + value.size() && *end != '\n') || !std::isfinite(seconds))
    return std::nullopt;
  return seconds;
}

std::string NormalFolderPath(FileSystem& fs, const std::string& folder) {
  const std::string path = AbsolutePath(folder, WorkingFolder());
  // "/", or on Windows "C:/", "//server/share/".
  const std::string root = path.substr(0, PathRootLength(path));
  const bool absolute = !root.empty();
  std::vector<std::string> parts;
  const auto joined = [&] {
    std::string text = root;
    for (const std::string& part : parts) text += part + "/";
    return text;
  };
  for (size_t start = root.size(); start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (absolute && parts.empty()) continue;  // "/.." is "/", "C:/.." is "C:/"
      ItemInfo info;
      // Through a link, ".." leads to the parent of what it names: kept.
      if (!parts.empty() && parts.back() != ".." &&
          fs.Lookup(RemoveSeparator(joined()), info) == kSuccess && info.IsFolder()) {
        parts.pop_back();
        continue;
      }
    }
    parts.push_back(part);
  }
  const std::string normal = joined();
  return normal.empty() ? "./" : normal;
}

std::string PercentEncodePath(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : path) {
    const auto u = static_cast<unsigned char>(c);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~' || c == '/') {
      out += c;
    } else {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  return out;
}

std::string PercentDecode(std::string_view text) {
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string TrashInfoText(std::string_view original_path, double deletion_time) {
  const CalendarTime t = LocalTime(deletion_time);
  char date[64];
  std::snprintf(date, sizeof date, "%04lld-%02d-%02dT%02d:%02d:%02d",
                static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
  return "[Trash Info]\nPath=" + PercentEncodePath(original_path) + "\nDeletionDate=" + date + "\n";
}

// ---- versions folder ---------------------------------------------------------

VersionsKeeper::VersionsKeeper(FileSystem& fs, Reporter& reporter, KeptSides sides,
                               std::string folder, double start_time)
    : fs_(fs),
      reporter_(reporter),
      sides_(std::move(sides)),
      folder_(std::move(folder)),
      start_time_(start_time) {}

// The versions folder and the folders above it where missing, then the
// run's own folder: the first free name of the second the run began, with
// its mark, locked until the keeper goes.
ErrorCode VersionsKeeper::MakeRunFolder() {
  std::vector<std::string> missing;
  ItemInfo info;
  for (std::string folder = RemoveSeparator(folder_);
       fs_.Lookup(folder, info) != kSuccess && folder != "/" && !folder.empty();
       folder = ParentFolder(folder)) {
    missing.push_back(folder);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    const ErrorCode code = fs_.CreateFolder(*it);
    if (code != kSuccess && code != kErrAlreadyExists) return code;
  }
  const std::string name = RunFolderName(start_time_);
  for (int n = 1; n < 10000; ++n) {
    const std::string candidate = folder_ + (n == 1 ? name : name + "-" + std::to_string(n));
    ErrorCode code = fs_.CreateFolder(candidate);
    if (code == kErrAlreadyExists) continue;
    if (code != kSuccess) return code;
    code = fs_.CreateLockedFile(candidate + "/" + kRunMarkName, RunMarkText(start_time_), lock_);
    if (code != kSuccess) {
      fs_.RemoveFolder(candidate);
      return code;
    }
    run_folder_ = candidate + "/";
    reporter_.Run().KeptIn = run_folder_;
    return kSuccess;
  }
  return kErrAlreadyExists;
}

ErrorCode VersionsKeeper::MakeFolders(const std::string& folder) {
  if (folder.size() <= run_folder_.size() || made_.contains(folder)) return kSuccess;
  for (size_t end = folder.find('/', run_folder_.size()); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    const std::string level = folder.substr(0, end + 1);
    if (made_.contains(level)) continue;
    const ErrorCode code = fs_.CreateFolder(level.substr(0, end));
    if (code != kSuccess && code != kErrAlreadyExists) return code;
    made_.insert(level);
  }
  return kSuccess;
}

ErrorCode VersionsKeeper::Prepare(const std::string& path, const ItemInfo& item, KeepReason reason,
                                  KeepPlace& place) {
  const std::lock_guard lock(mutex_);
  (void)item;
  (void)reason;
  const bool in_target = path.starts_with(sides_.target);
  if (!in_target && !path.starts_with(sides_.source)) return kErrInvalidArgument;
  if (run_folder_.empty()) {
    if (const ErrorCode code = MakeRunFolder(); code != kSuccess) return code;
  }
  const std::string& root = in_target ? sides_.target : sides_.source;
  place.path = run_folder_;
  if (sides_.bidi) place.path += in_target ? "Target/" : "Source/";
  place.path.append(path, root.size());
  place.companion.clear();
  return MakeFolders(FolderPart(place.path));
}

void VersionsKeeper::Finish(const KeepPlace& place, bool kept) {
  const std::lock_guard lock(mutex_);
  (void)place;
  if (kept) reporter_.Counters().ItemsKept += 1;
}

void VersionsKeeper::RemoveOldRuns(int32_t keep) {
  if (keep <= 0) return;
  constexpr size_t kMarkLimit = 4096;
  struct Run {
    std::string name;
    double start;  // a live run's, unknown, counts as the newest
    uint32_t order;
    bool spared;  // the run's own, or a live run's
  };
  std::vector<Run> runs;
  {
    std::unique_ptr<FolderReader> reader;
    if (fs_.OpenFolder(folder_, reader) != kSuccess) return;
    ItemInfo item;
    uint32_t order = 0;
    while (reader->Next(item) == kSuccess) {
      if (item.IsFolder() && IsRunFolderName(item.name, &order))
        runs.push_back({item.name, 0, order, false});
    }
  }
  const std::string own = run_folder_.empty() ? "" : BaseName(RemoveSeparator(run_folder_));
  std::erase_if(runs, [&](Run& run) {
    if (run.name == own) {
      run.start = start_time_;
      run.spared = true;
      return false;
    }
    std::string text;
    std::unique_ptr<FileLock> lock;
    const ErrorCode code =
        fs_.LockFile(folder_ + run.name + "/" + kRunMarkName, kMarkLimit, text, lock);
    if (code == kErrInUse) {
      run.start = std::numeric_limits<double>::infinity();
      run.spared = true;
      return false;
    }
    const std::optional<double> start = code == kSuccess ? RunMarkStart(text) : std::nullopt;
    if (start) run.start = *start;
    return !start;  // no mark of a run: not a run folder of this program
  });
  if (runs.size() <= static_cast<size_t>(keep)) return;
  std::sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) {
    if (a.start != b.start) return a.start > b.start;
    if (a.order != b.order) return a.order > b.order;
    return a.name > b.name;
  });
  for (size_t i = static_cast<size_t>(keep); i < runs.size(); ++i) {
    if (runs[i].spared) continue;
    const std::string path = folder_ + runs[i].name;
    const std::string mark = path + "/" + kRunMarkName;
    // Held while the folder is emptied, let go before the mark itself goes
    // (a FUSE file system would keep an open file that was deleted).
    std::string text;
    std::unique_ptr<FileLock> lock;
    if (fs_.LockFile(mark, kMarkLimit, text, lock) != kSuccess || !RunMarkStart(text)) continue;
    ErrorCode code = RemoveContents(fs_, path, kRunMarkName);
    lock.reset();
    if (code == kSuccess) code = Removed(fs_.DeleteFile(mark));
    if (code == kSuccess) code = Removed(fs_.RemoveFolder(path));
    if (code == kSuccess) {
      reporter_.AddReportLine("Removed versions:  \t\"" + DisplayPath(path + "/") + "\".",
                              ReportLineKind::Action, 0.5, LineFlush::Throttled);
    } else {
      reporter_.ErrorLine("Error " + std::to_string(code) + " removing versions \"" +
                              DisplayPath(path + "/") + "\". " + GetSystemErrorText(code),
                          code, kRemoveVersionsErrorAction, path + "/");
    }
  }
}

// ---- the Trash ---------------------------------------------------------------

TrashKeeper::TrashKeeper(FileSystem& fs, Reporter& reporter, KeptSides sides, TrashPlaces places)
    : fs_(fs), reporter_(reporter), sides_(std::move(sides)), places_(std::move(places)) {}

std::string TrashKeeper::TopFolder(const std::string& folder, uint64_t device) {
  std::string top = RemoveSeparator(folder);
  while (top != "/" && !top.empty()) {
    const std::string parent = ParentFolder(top);
    ItemInfo info;
    // Folders as the path names them, links followed.
    if (parent.empty() || !LookupFolder(fs_, parent, info) || info.device != device) break;
    top = parent;
  }
  return top;
}

std::vector<std::string> TrashKeeper::TrashFolders(const std::string& folder) {
  std::vector<std::string> folders;
  if (!places_.home_trash.empty()) folders.push_back(places_.home_trash);
  ItemInfo info;
  if (!LookupFolder(fs_, folder, info)) return folders;
  std::string top = TopFolder(AbsolutePath(folder, WorkingFolder()), info.device);
  if (top != "/") top += "/";
  folders.push_back(top + ".Trash");
  folders.push_back(top + ".Trash-" + std::to_string(places_.uid));
  return folders;
}

ErrorCode TrashKeeper::UserFolder(const std::string& path) {
  ItemInfo info;
  const ErrorCode found = fs_.Lookup(path, info);
  if (found == kSuccess) {
    if (!info.IsFolder()) return kErrNotAFolder;
    return info.uid == places_.uid ? kSuccess : kErrNotPermitted;
  }
  if (!IsMissingError(found)) return found;
  if (const ErrorCode code = fs_.CreateFolder(path); code != kSuccess) return code;
  return fs_.SetMode(path, 0700);
}

// The home trash where the item lies on its file system, else the top
// folder's trashes in the freedesktop.org order ($topdir/.Trash/$uid, then
// $topdir/.Trash-$uid). `why` says what kept every one from being used.
ErrorCode TrashKeeper::FindTrash(const std::string& path, uint64_t device, Trash& trash,
                                 std::string& why) {
  trash.device = device;
  const auto say = [&why](ErrorCode code, const std::string& doing, const std::string& where) {
    if (code == kErrNotPermitted || code == kErrNotAFolder) {
      why = "\"" + DisplayPath(where) + "\" is not a folder of this user";
    } else {
      why = "Error " + std::to_string(code) + " " + doing + " \"" + DisplayPath(where) + "\". " +
            GetSystemErrorText(code);
    }
    return code;
  };
  const auto make_parts = [&](const std::string& folder) {
    for (const char* part : {"/files", "/info"}) {
      const ErrorCode code = fs_.CreateFolder(folder + part);
      if (code != kSuccess && code != kErrAlreadyExists)
        return say(code, "creating folder", folder + part);
    }
    trash.folder = folder;
    trash.usable = true;
    return kSuccess;
  };

  const std::string& home = places_.home_trash;
  if (!home.empty()) {
    // The home trash, or the nearest folder above it that is there.
    std::string probe = home;
    ItemInfo info;
    std::vector<std::string> missing;
    while (!LookupFolder(fs_, probe, info) && probe != "/" && !probe.empty()) {
      missing.push_back(probe);
      probe = ParentFolder(probe);
    }
    if (!probe.empty() && info.device == device) {
      for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const ErrorCode code = *it == home ? UserFolder(*it) : fs_.CreateFolder(*it);
        if (code != kSuccess && code != kErrAlreadyExists) return say(code, "creating folder", *it);
      }
      return make_parts(home);
    }
  }

  std::string top = TopFolder(FolderPart(AbsolutePath(path, WorkingFolder())), device);
  trash.topdir = top;
  if (top != "/") top += "/";
  // A shared .Trash is used only as freedesktop.org allows: a folder, not
  // a link, with the sticky bit.
  ItemInfo shared;
  const std::string shared_path = top + ".Trash";
  if (fs_.Lookup(shared_path, shared) == kSuccess && shared.IsFolder() && (shared.mode & 01000)) {
    const std::string own = shared_path + "/" + std::to_string(places_.uid);
    if (UserFolder(own) == kSuccess && make_parts(own) == kSuccess) return kSuccess;
  }
  const std::string own = top + ".Trash-" + std::to_string(places_.uid);
  if (const ErrorCode code = UserFolder(own); code != kSuccess)
    return say(code, "creating folder", own);
  return make_parts(own);
}

const TrashKeeper::Trash& TrashKeeper::TrashFor(const std::string& path, uint64_t device) {
  for (const Trash& trash : trashes_)
    if (trash.device == device) return trash;
  Trash trash;
  std::string why;
  if (const ErrorCode code = FindTrash(path, device, trash, why); code != kSuccess) {
    trash.usable = false;
    reporter_.ErrorLine("No Trash can be used for \"" + DisplayPath(path) + "\": " + why +
                            ". Nothing on its file system is deleted or replaced.",
                        code, kTrashErrorAction, path);
  }
  trashes_.push_back(std::move(trash));
  return trashes_.back();
}

std::string TrashKeeper::OutermostDeleted(const std::string& path, uint64_t device) {
  const std::string& root = sides_.target;
  if (!path.starts_with(root)) return path;
  for (size_t end = path.find('/', root.size()); end != std::string::npos;
       end = path.find('/', end + 1)) {
    const std::string folder = path.substr(0, end);
    if (staying_.contains(folder)) continue;
    ItemInfo other;
    if (fs_.Lookup(sides_.source + folder.substr(root.size()), other) == kSuccess &&
        other.IsFolder()) {
      staying_.insert(folder);
      continue;
    }
    ItemInfo here;
    if (fs_.Lookup(folder, here) == kSuccess && here.IsFolder() && here.device == device)
      return folder;
  }
  return path;
}

ErrorCode TrashKeeper::NewEntry(const Trash& trash, const std::string& root, Entry& entry) {
  // The Path of a .trashinfo is absolute, or relative to the top folder of
  // the trash's own file system.
  std::string original = AbsolutePath(root, WorkingFolder());
  if (!trash.topdir.empty()) {
    const size_t skip = trash.topdir == "/" ? 1 : trash.topdir.size() + 1;
    if (original.size() > skip) original.erase(0, skip);
  }
  const std::string text = TrashInfoText(original, reporter_.RunClock().Now());
  const std::string base = TrashName(BaseName(root));
  for (int n = 1; n < 100000; ++n) {
    const std::string name = n == 1 ? base : base + "." + std::to_string(n);
    const std::string info = trash.folder + "/info/" + name + ".trashinfo";
    const ErrorCode code = fs_.WriteNewFile(info, text);
    if (code == kErrAlreadyExists) continue;
    if (code != kSuccess) return code;
    // An entry of files/ whose info went astray keeps its name too.
    const std::string files = trash.folder + "/files/" + name;
    ItemInfo there;
    if (fs_.Lookup(files, there) == kSuccess) {
      fs_.DeleteFile(info);
      continue;
    }
    entry.root = root;
    entry.files = files;
    entry.info = info;
    return kSuccess;
  }
  return kErrAlreadyExists;
}

ErrorCode TrashKeeper::Prepare(const std::string& path, const ItemInfo& item, KeepReason reason,
                               KeepPlace& place) {
  const std::lock_guard lock(mutex_);
  const Trash& trash = TrashFor(path, item.device);
  if (!trash.usable) return kErrNoPlaceToKeep;
  // A trash's own items are never trashed into it.
  if (path == trash.folder || path.starts_with(trash.folder + "/")) return kErrInvalidArgument;
  place.companion.clear();
  const bool in_entry = entry_ != nullptr && reason == KeepReason::Delete &&
                        (path == entry_->root || path.starts_with(entry_->root + "/")) &&
                        entry_->files.starts_with(trash.folder + "/");
  if (!in_entry) {
    const std::string root =
        reason == KeepReason::Delete ? OutermostDeleted(path, item.device) : path;
    auto entry = std::make_unique<Entry>();
    if (const ErrorCode code = NewEntry(trash, root, *entry); code != kSuccess) return code;
    if (root == path) {
      place.path = entry->files;
      place.companion = entry->info;
      return kSuccess;
    }
    // The deleted folder that holds the item becomes the entry, filled as
    // the walk removes its contents.
    if (const ErrorCode code = fs_.CreateFolder(entry->files); code != kSuccess) {
      fs_.DeleteFile(entry->info);
      return code;
    }
    entry_ = std::move(entry);
  }
  place.path = entry_->files;
  place.path.append(path, entry_->root.size());
  const std::string folder = FolderPart(place.path);
  for (size_t end = folder.find('/', entry_->files.size() + 1); end != std::string::npos;
       end = folder.find('/', end + 1)) {
    const std::string level = folder.substr(0, end);
    if (entry_->made.contains(level)) continue;
    const ErrorCode code = fs_.CreateFolder(level);
    if (code != kSuccess && code != kErrAlreadyExists) return code;
    entry_->made.insert(level);
  }
  return kSuccess;
}

void TrashKeeper::Finish(const KeepPlace& place, bool kept) {
  const std::lock_guard lock(mutex_);
  if (kept) {
    reporter_.Counters().ItemsKept += 1;
    if (entry_ != nullptr && place.path == entry_->files) entry_.reset();  // the folder itself
    return;
  }
  if (place.companion.empty()) return;
  ItemInfo info;
  if (fs_.Lookup(place.path, info) == kSuccess && info.IsFolder()) fs_.RemoveFolder(place.path);
  fs_.DeleteFile(place.companion);
}

}  // namespace twinmere
