// ParseDesktopEntry on arbitrary bytes: no crash, no sanitizer report, and
// every entry it accepts is written again by FormatDesktopEntry and reads back
// to the same fields.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/desktop_entry.h"

namespace {

void Fail(const char* what, const std::string& input, const std::string& detail) {
  std::fprintf(stderr, "%s\n  input:   [%s]\n  rebuilt: [%s]\n", what, input.c_str(),
               detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  twinmere::ShortcutFields fields;
  if (!twinmere::ParseDesktopEntry(text, fields).ok()) return 0;

  std::string written;
  // A name with a line break and a byte that is not UTF-8 must not matter.
  twinmere::ShortcutStatus status = twinmere::FormatDesktopEntry("New\nSync\xFF", fields, written);
  if (!status.ok()) Fail("an accepted entry cannot be written", text, status.text);
  twinmere::ShortcutFields again;
  status = twinmere::ParseDesktopEntry(written, again);
  if (!status.ok()) Fail("the written entry does not read", text, written + "\n" + status.text);
  if (!(again == fields)) Fail("the written entry reads to other fields", text, written);
  return 0;
}
