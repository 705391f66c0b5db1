#include "engine/leave_out_filter.h"

#include <utility>

#include "platform/errors.h"
#include "platform/own_files.h"
#include "report/formats.h"

namespace twinmere {
namespace {

// What a failed read of a .twinmereignore means: no file there (nothing of
// that name, or no regular file), or an error.
bool NoRulesFile(ErrorCode code) {
  return IsMissingError(code) || code == kErrNotSupported || code == kErrIsAFolder ||
         code == kErrLinkInPath;
}

uint64_t Hash(std::string_view key) {
  return std::hash<std::string_view>{}(key);
}

// `rel` with each name folded, or as it stands without a fold.
std::string FoldedPath(std::string_view rel, NameFold fold) {
  if (fold == nullptr) return std::string(rel);
  std::string key;
  key.reserve(rel.size());
  for (size_t at = 0; at <= rel.size();) {
    size_t end = rel.find('/', at);
    if (end == std::string_view::npos) end = rel.size();
    key += fold(rel.substr(at, end - at));
    if (end < rel.size()) key += '/';
    at = end + 1;
  }
  return key;
}

// The filter a walk's read-ahead asks on its own thread: the levels of the
// walk's folder when it began, and the files of rules the read-ahead reads
// below it, parsed here anew.
class ReadAheadFilter final : public WalkFilter {
 public:
  using Known = std::unordered_map<std::string, std::shared_ptr<const LeaveOutList>>;

  // `known`: the lists of the folders whose files the run read (by key; null
  // for one that cannot be used), which are not read again.
  ReadAheadFilter(std::shared_ptr<const LeaveOutList> command_line,
                  std::vector<std::pair<std::string, std::shared_ptr<const LeaveOutList>>> levels,
                  Known known, NameFold fold, size_t root_size, bool in_counterparts)
      : command_line_(std::move(command_line)),
        levels_(std::move(levels)),
        known_(std::move(known)),
        fold_(fold),
        root_size_(root_size),
        in_counterparts_(in_counterparts),
        rules_(*command_line_) {
    for (const auto& [folder, list] : levels_) rules_.Push(folder, *list);
  }

  const std::string& RulesFileName() const override { return name_; }
  bool RulesInCounterparts() const override { return in_counterparts_; }
  size_t RulesLimit() const override { return kPatternsFileLimit; }

  bool Enter(std::string_view path, const ReadRules& read) override {
    const std::string folder = std::string(path.substr(root_size_)) + "/";
    std::shared_ptr<const LeaveOutList> list;
    bool usable = true;
    if (const auto it = known_.find(FoldedPath(folder, fold_)); it != known_.end()) {
      list = it->second;
      usable = list != nullptr;
    } else {
      std::string text;
      const ErrorCode code = read(text);
      usable = code == kSuccess || code == kErrNotFound;
      if (code == kSuccess) {
        auto parsed = std::make_shared<LeaveOutList>(fold_);
        usable = parsed->AddText(text).empty();
        list = std::move(parsed);
      }
    }
    const bool pushed = usable && list != nullptr && !list->empty();
    if (pushed) {
      levels_.emplace_back(folder, list);
      rules_.Push(levels_.back().first, *list);
    }
    entered_.push_back(pushed);
    return usable;
  }

  void Leave() override {
    if (entered_.empty()) return;
    if (entered_.back()) {
      rules_.Pop();
      levels_.pop_back();
    }
    entered_.pop_back();
  }

  bool LeavesOut(std::string_view path) override {
    return path.size() > root_size_ && rules_.LeavesOut(path.substr(root_size_), ItemKind::Folder);
  }

 private:
  const std::string name_ = kLeaveOutFileName;
  std::shared_ptr<const LeaveOutList> command_line_;
  std::vector<std::pair<std::string, std::shared_ptr<const LeaveOutList>>> levels_;
  Known known_;
  NameFold fold_;
  size_t root_size_;
  bool in_counterparts_;
  LeaveOutRules rules_;
  std::vector<bool> entered_;
};

}  // namespace

bool AddLeaveOutPattern(std::string_view pattern, LeaveOutList& list, std::string& fault) {
  if (list.AddPattern(pattern)) return true;
  // A pattern, not a path: its "/" stay as written.
  fault = "Invalid pattern to leave out: \"" + DisplayText(pattern) + "\".";
  return false;
}

bool AddLeaveOutFile(const std::string& path, LeaveOutList& list, std::string& fault) {
  std::string text;
  if (const ErrorCode code = ReadSmallFile(path, kPatternsFileLimit, FinalLink::Follow, text);
      code != kSuccess) {
    fault = "Error " + std::to_string(code) + " reading the patterns file \"" + DisplayPath(path) +
            "\". " + SystemErrorText(code);
    return false;
  }
  if (const std::vector<int> invalid = list.AddText(text); !invalid.empty()) {
    fault = "Invalid pattern in line " + std::to_string(invalid.front()) +
            " of the patterns file \"" + DisplayPath(path) + "\".";
    return false;
  }
  return true;
}

bool ReadLeaveOutOptions(const SyncOptions& options, LeaveOutList& list, std::string& fault) {
  for (const std::string& file : options.LeaveOutFiles)
    if (!AddLeaveOutFile(file, list, fault)) return false;
  for (const std::string& pattern : options.LeaveOut)
    if (!AddLeaveOutPattern(pattern, list, fault)) return false;
  return true;
}

// Hands the read-ahead of a walk the levels of the folder the walk is in;
// none once the run is over.
class LeaveOutFilter::Source final : public WalkFilterSource {
 public:
  explicit Source(LeaveOutFilter* filter) : filter_(filter) {}
  void Forget() { filter_ = nullptr; }

  std::unique_ptr<WalkFilter> ForReadAhead(const std::string& folder) override {
    if (filter_ == nullptr || filter_->frames_.empty() || !filter_->frames_.back().inside)
      return nullptr;
    std::string_view rel;
    bool in_source = false;
    if (!filter_->Below(folder, rel, in_source) || rel != filter_->frames_.back().folder)
      return nullptr;
    std::vector<std::pair<std::string, std::shared_ptr<const LeaveOutList>>> levels;
    for (const Level& level : filter_->levels_) levels.emplace_back(level.folder, level.list);
    // Only the folders below the walked one can be entered.
    ReadAheadFilter::Known known;
    const std::string below = filter_->Key(rel);
    for (const auto& [key, rules] : filter_->known_)
      if (key.size() > below.size() && key.starts_with(below)) known.emplace(key, rules.list);
    return std::make_unique<ReadAheadFilter>(filter_->command_line_, std::move(levels),
                                             std::move(known), filter_->fold_,
                                             folder.size() - rel.size(), !in_source);
  }

 private:
  LeaveOutFilter* filter_;
};

std::shared_ptr<WalkFilterSource> LeaveOutFilter::ReadAheadSource() const {
  return source_;
}

LeaveOutFilter::LeaveOutFilter() : command_line_(std::make_shared<LeaveOutList>()) {}

LeaveOutFilter::~LeaveOutFilter() {
  End();
}

bool LeaveOutFilter::Begin(FileSystem& fs, const SyncOptions& options, NameFold fold,
                           ErrorLine error_line, std::string& fault) {
  End();
  auto command_line = std::make_shared<LeaveOutList>(fold);
  if (!ReadLeaveOutOptions(options, *command_line, fault)) return false;
  fs_ = &fs;
  source_folder_ = options.Source;
  target_folder_ = options.Target;
  fold_ = fold;
  error_line_ = std::move(error_line);
  active_ = !command_line->empty();
  command_line_ = std::move(command_line);
  rules_ = LeaveOutRules(*command_line_);
  source_ = std::make_shared<Source>(this);
  return true;
}

void LeaveOutFilter::End() {
  if (source_ != nullptr) source_->Forget();
  source_.reset();
  fs_ = nullptr;
  error_line_ = nullptr;
  active_ = false;
  rules_ = LeaveOutRules();
  levels_.clear();
  frames_.clear();
  known_.clear();
  without_.clear();
  met_.clear();
  command_line_ = std::make_shared<LeaveOutList>();
}

std::string LeaveOutFilter::Key(std::string_view rel) const {
  return FoldedPath(rel, fold_);
}

bool LeaveOutFilter::Below(std::string_view path, std::string_view& rel, bool& in_source) const {
  for (const std::string* root : {&source_folder_, &target_folder_}) {
    if (!root->empty() && path.starts_with(*root)) {
      rel = path.substr(root->size());
      in_source = root == &source_folder_;
      return true;
    }
  }
  return false;
}

void LeaveOutFilter::Push(const std::string& folder,
                          const std::shared_ptr<const LeaveOutList>& list) {
  levels_.push_back({folder, list});
  rules_.Push(levels_.back().folder, *list);
}

void LeaveOutFilter::PopAll() {
  for (size_t i = 0; i < levels_.size(); ++i) rules_.Pop();
  levels_.clear();
}

// A folder that holds no file is known by its hash alone. Where names fold,
// a walk of Target spells a folder as Target does: a file missing under
// that spelling may still be in Source under another, which its walk finds.
LeaveOutFilter::Rules LeaveOutFilter::RulesOf(const std::string& folder, bool from_source) {
  const std::string key = Key(folder);
  if (const auto it = known_.find(key); it != known_.end()) return it->second;
  const uint64_t hash = Hash(key);
  if (without_.contains(hash)) return {};
  const std::string path = source_folder_ + folder + kLeaveOutFileName;
  std::string text;
  const ErrorCode code = fs_->ReadFileText(path, kPatternsFileLimit, text);
  Rules rules;
  if (code == kSuccess) {
    auto list = std::make_shared<LeaveOutList>(fold_);
    if (const std::vector<int> invalid = list->AddText(text); !invalid.empty()) {
      rules.unusable = true;
      error_line_("Invalid pattern in line " + std::to_string(invalid.front()) + " of \"" +
                      DisplayPath(path) + "\": everything in its folder is left out.",
                  kErrInvalidArgument, path);
    } else if (!list->empty()) {
      rules.list = std::move(list);
    }
  } else if (!NoRulesFile(code)) {
    rules.unusable = true;
    error_line_("Error " + std::to_string(code) + " reading \"" + DisplayPath(path) +
                    "\": everything in its folder is left out. " + SystemErrorText(code),
                code, path);
  }
  if (rules.list == nullptr && !rules.unusable) {
    if (from_source || fold_ == nullptr) without_.insert(hash);
  } else {
    known_.emplace(key, rules);
    active_ = true;
  }
  return rules;
}

bool LeaveOutFilter::Enter(const std::string& folder) {
  Frame frame;
  std::string_view rel;
  bool in_source = false;
  if (fs_ == nullptr || !Below(folder, rel, in_source)) {
    frames_.push_back(std::move(frame));
    return true;
  }
  frame.inside = true;
  frame.folder.assign(rel);
  bool usable = true;
  // A walk of a subfolder of the folder entered last (in either tree) adds
  // its own level; any other walk (one made inside another walk's item)
  // sets the levels of its folder up anew.
  const bool child =
      !frames_.empty() && frames_.back().inside &&
      frame.folder.size() > frames_.back().folder.size() &&
      frame.folder.starts_with(frames_.back().folder) &&
      frame.folder.find('/', frames_.back().folder.size()) == frame.folder.size() - 1;
  if (!child) {
    frame.jumped = true;
    frame.saved = levels_;
    PopAll();
    for (size_t end = 0; end < frame.folder.size(); end = frame.folder.find('/', end) + 1) {
      const std::string above = frame.folder.substr(0, end);
      const Rules rules = RulesOf(above, in_source);
      if (rules.unusable) usable = false;
      if (rules.list != nullptr) Push(above, rules.list);
    }
  }
  const Rules own = RulesOf(frame.folder, in_source);
  if (own.unusable) usable = false;
  if (own.list != nullptr) {
    Push(frame.folder, own.list);
    frame.pushed = 1;
  }
  frames_.push_back(std::move(frame));
  return usable;
}

void LeaveOutFilter::Leave() {
  if (frames_.empty()) return;
  Frame frame = std::move(frames_.back());
  frames_.pop_back();
  if (!frame.inside) return;
  for (int i = 0; i < frame.pushed; ++i) {
    rules_.Pop();
    levels_.pop_back();
  }
  if (frame.jumped) {
    PopAll();
    for (const Level& level : frame.saved) Push(level.folder, level.list);
  }
}

bool LeaveOutFilter::LeavesOut(const std::string& path, ItemKind kind) {
  if (levels_.empty() && command_line_->empty()) return false;
  std::string_view rel;
  bool in_source = false;
  if (!Below(path, rel, in_source) || !rules_.LeavesOut(rel, kind)) return false;
  met_.insert(Hash(Key(rel)));
  return true;
}

}  // namespace twinmere
