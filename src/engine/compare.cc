#include "engine/compare.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/letter_case.h"

namespace twinmere {
namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// The code points of a UTF-8 name; false when it is not valid UTF-8.
bool DecodeUtf8(std::string_view text, std::vector<char32_t>& out) {
  out.clear();
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80           ? 1
                       : (lead >> 5) == 0x6  ? 2
                       : (lead >> 4) == 0xE  ? 3
                       : (lead >> 3) == 0x1E ? 4
                                             : 0;
    if (length == 0 || i + length > text.size()) return false;
    char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += length;
  }
  return true;
}

}  // namespace

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a == b || EqualIgnoringAsciiCase(a, b)) return true;
  std::vector<char32_t> ca, cb;
  if (!DecodeUtf8(a, ca) || !DecodeUtf8(b, cb) || ca.size() != cb.size()) return false;
  for (size_t i = 0; i < ca.size(); ++i) {
    if (LowerCaseOf(ca[i]) != LowerCaseOf(cb[i])) return false;
  }
  return true;
}

std::string NameIgnoringCase(std::string_view name) {
  std::vector<char32_t> points;
  std::string key;
  key.reserve(name.size());
  const bool ascii = std::all_of(name.begin(), name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii || !DecodeUtf8(name, points)) {
    for (const char c : name) key += FoldAscii(c);
    return key;
  }
  for (const char32_t point : points) {
    const char32_t lower = point < 0x80 ? static_cast<char32_t>(FoldAscii(static_cast<char>(point)))
                                        : LowerCaseOf(point);
    // As UTF-8 again.
    if (lower < 0x80) {
      key += static_cast<char>(lower);
    } else if (lower < 0x800) {
      key += static_cast<char>(0xC0 | (lower >> 6));
      key += static_cast<char>(0x80 | (lower & 0x3F));
    } else if (lower < 0x10000) {
      key += static_cast<char>(0xE0 | (lower >> 12));
      key += static_cast<char>(0x80 | ((lower >> 6) & 0x3F));
      key += static_cast<char>(0x80 | (lower & 0x3F));
    } else {
      key += static_cast<char>(0xF0 | ((lower >> 18) & 0x07));
      key += static_cast<char>(0x80 | ((lower >> 12) & 0x3F));
      key += static_cast<char>(0x80 | ((lower >> 6) & 0x3F));
      key += static_cast<char>(0x80 | (lower & 0x3F));
    }
  }
  return key;
}

namespace {

std::string_view NamePart(std::string_view path) {
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// |a - b| without overflow, saturated to the int64 range.
uint64_t Distance(int64_t a, int64_t b) {
  return a >= b ? static_cast<uint64_t>(a) - static_cast<uint64_t>(b)
                : static_cast<uint64_t>(b) - static_cast<uint64_t>(a);
}

}  // namespace

Differences CompareTimes(FileTime item, FileTime other, bool no_daylight) {
  const uint64_t distance = Distance(item.ns, other.ns);
  if (!no_daylight && distance >= static_cast<uint64_t>(kHourLowNs) &&
      distance <= static_cast<uint64_t>(kHourHighNs)) {
    return {};
  }
  if (distance <= static_cast<uint64_t>(kTimeToleranceNs)) return {};
  return item.ns > other.ns ? Difference::ItemNewer : Difference::OtherNewer;
}

CompareResult Compare(FilesEnumerator& e, const std::string& other_path, bool with_security,
                      const CompareRules& rules, IEnumFile& callback) {
  e.ForgetItemSecurity();
  if (!e.IsOtherCached(other_path)) {
    const ErrorCode error = e.FindOther(other_path);
    // A link among the folders of the path (kErrLinkInPath) is never followed: like a
    // file there, it means that no such counterpart exists in the tree.
    if (IsMissingError(error) || error == kErrLinkInPath) return CompareResult::Missing();
    if (error != kSuccess) {
      callback.AccessError(other_path, error);
      return {Counterpart::Inaccessible, {}};
    }
  }
  // A lookup that answers with a name other than the one asked for (apart
  // from letter case on a case-insensitive file system) found some other
  // item through an alias: it must never be taken for the counterpart.
  const std::string_view wanted = NamePart(other_path);
  if (!NamesEqualIgnoringCase(e.OtherName(), wanted)) return {Counterpart::ShortNameClash, {}};
  CompareResult result;
  Differences& differs = result.differences;
  if (rules.presence_only) {
    if (e.IsFolder() != e.OtherIsFolder()) differs = Difference::Kind;
    return result;
  }

  const ItemInfo& item = e.Item();
  const ItemInfo& other = e.Other();

  if (rules.check_case && other.name != wanted) differs |= Difference::Case;
  differs |= CompareTimes(item.modify_time, other.modify_time, rules.no_daylight);
  if (item.size != other.size) differs |= Difference::Size;
  // A link and a regular file of the same name are both "files" to the
  // attribute word, yet one cannot stand for the other: the kind difference
  // counts as a content difference, so the copy plan replaces the counterpart.
  if (item.kind != other.kind && !item.IsFolder() && !other.IsFolder()) differs |= Difference::Size;
  if (const uint32_t changed = (item.mode ^ other.mode) & 07777; changed != 0) {
    const uint32_t kept =
        rules.other_receives ? e.Context().fs->Abilities(other_path).kept_mode_bits : 07777;
    if (changed & kept) differs |= Difference::Attributes;
  }
  if (item.IsFolder() != other.IsFolder()) differs |= Difference::Kind;
  FileSystem& fs = *e.Context().fs;
  if (item.kind == ItemKind::Link && other.kind == ItemKind::Link &&
      ((rules.other_receives && !fs.Abilities(other_path).sets_link_times) ||
       (rules.item_receives && !fs.Abilities(e.FullPath()).sets_link_times))) {
    // A link copied there has the time it was made: compare what they say.
    std::string text, other_text;
    if (fs.ReadLink(e.FullPath(), text) == kSuccess &&
        fs.ReadLink(other_path, other_text) == kSuccess && text == other_text) {
      differs = differs.Without({Difference::ItemNewer, Difference::OtherNewer});
    } else {
      differs |= Difference::Size;
    }
  }

  if (with_security && rules.security_support) {
    switch (e.CompareSecurity(other_path)) {
      case SecurityMatch::Same:
        break;
      case SecurityMatch::Differs:
        differs |= Difference::Security;
        break;
      case SecurityMatch::OtherUnreadable:
        differs |= Difference::OtherSecurityUnreadable;
        break;
      case SecurityMatch::ItemUnreadable:
        differs |= Difference::ItemSecurityUnreadable;
        break;
    }
  }
  return result;
}

}  // namespace twinmere
