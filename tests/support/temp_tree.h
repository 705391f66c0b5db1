// Real folder trees in a temporary directory, for tests that touch the disk.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace twinmere::testing {

// A temporary directory that is removed with everything in it when the
// object goes away. Paths given to the helpers are relative to it.
class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The directory itself, without a trailing "/".
  const std::string& Root() const { return root_; }
  // Root() + "/" + relative.
  std::string Path(const std::string& relative) const;
  // Path(relative) + "/": a folder path as the options hold it.
  std::string Folder(const std::string& relative) const;

  // Each creates missing parent folders and fails the test on error.
  void MakeFolder(const std::string& relative);
  void WriteFile(const std::string& relative, const std::string& contents);
  void MakeLink(const std::string& relative, const std::string& link_text);
  // Sets access and modification time to `seconds` since the epoch plus `nanoseconds`.
  void SetTime(const std::string& relative, int64_t seconds, int64_t nanoseconds = 0);
  void SetMode(const std::string& relative, uint32_t mode);

  bool Exists(const std::string& relative) const;  // without following a final link
  std::string ReadFile(const std::string& relative) const;
  std::string ReadLink(const std::string& relative) const;
  // Names in a folder, sorted; "." and ".." left out.
  std::vector<std::string> List(const std::string& relative = "") const;

 private:
  std::string root_;
};

// Removes a tree of any depth without following links. Returns false on the
// first failure.
bool RemoveTree(const std::string& path);

// Runs `body` in a child process as the unprivileged user nobody (uid and gid
// 65534) and returns its exit status, or -1 when the switch is impossible (the
// test should then skip). Output of failed expectations in the child is lost:
// let `body` return a distinct status for each check.
int RunAsUnprivileged(const std::function<int()>& body);

// True when the tests run as root (they then may mount, chown and so on).
bool IsRoot();

// Whether symbolic links can be made here: always on Linux; on Windows only
// with the right to make them, and never under Wine 8.
bool LinksCanBeMade();

}  // namespace twinmere::testing
