// A walk callback for the enumerator tests: records every item and error and
// runs an optional action on each item.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "fs/files_enumerator.h"

namespace twinmere::testing {

class Probe : public IEnumFile {
 public:
  using Action = std::function<void(FilesEnumerator&)>;
  explicit Probe(Action action = nullptr) : action_(std::move(action)) {}
  void File(FilesEnumerator& e) override {
    files.push_back(e.FullPath());
    if (action_) action_(e);
  }
  void AccessError(const std::string& path, ErrorCode code) override {
    errors.push_back(path + " " + std::to_string(code));
  }
  void SecurityError(const std::string& path, ErrorCode code) override {
    security_errors.push_back(path + " " + std::to_string(code));
  }
  std::vector<std::string> files, errors, security_errors;

 private:
  Action action_;
};

// Walks `folder` and returns the enumerator's result.
inline ErrorCode Walk(EnumeratorContext& context, const std::string& folder, Probe& probe,
                      EnumMode mode = EnumMode::NoRecursion, std::string_view mask = "*") {
  FilesEnumerator e(context);
  e.SetFolder(folder);
  return e.Enumerate(probe, mode, mask);
}

// Runs `action` on the one item named `name` in `folder`, as the engine does
// from inside a walk.
inline void RunOn(EnumeratorContext& context, const std::string& folder, const std::string& name,
                  const Probe::Action& action) {
  int calls = 0;
  Probe probe([&](FilesEnumerator& e) {
    if (e.Item().name != name) return;
    action(e);
    ++calls;
  });
  ASSERT_EQ(Walk(context, folder, probe), 0);
  ASSERT_EQ(calls, 1) << name << " not found in " << folder;
}

}  // namespace twinmere::testing
