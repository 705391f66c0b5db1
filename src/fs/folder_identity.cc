#include "fs/folder_identity.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/path_syntax.h"

namespace twinmere {
namespace {

using Identity = std::pair<uint64_t, uint64_t>;  // device, inode

// A folder path that ends in exactly one "/", so that lookups resolve it as a
// folder (through a link that names it) and ".." can be appended.
std::string WithSeparator(std::string path) {
  if (path.empty()) return "./";
  if (path.back() != '/') path += '/';
  return path;
}

// The lexical parent of a folder path ending in "/": "/a/b/" gives "/a/";
// "b/" gives "./"; a root ("/", "C:/") stays as it is.
std::string LexicalParent(const std::string& folder) {
  const size_t root = PathRootLength(folder);
  if (folder.size() <= root) return folder;
  const size_t end = folder.find_last_not_of('/');
  if (end == std::string::npos) return "/";
  const size_t slash = folder.rfind('/', end);
  if (slash == std::string::npos || slash < root) return root > 0 ? folder.substr(0, root) : "./";
  return folder.substr(0, slash + 1);
}

}  // namespace

bool LookupFolder(FileSystem& fs, const std::string& folder, ItemInfo& info) {
  const std::string path = WithSeparator(folder);
  // "folder/." names the folder itself even when `folder` is a link to it;
  // file systems that do not know "." are asked for the folder as written.
  return fs.Lookup(path + ".", info) == kSuccess || fs.Lookup(path, info) == kSuccess;
}

namespace {

// Only a folder can hold another: a file named as a folder is passed over
// like a missing folder.
bool Identify(FileSystem& fs, const std::string& path, Identity& id) {
  ItemInfo info;
  if (!LookupFolder(fs, path, info) || !info.IsFolder()) return false;
  id = {info.device, info.inode};
  return true;
}

struct Chain {
  bool exists = false;        // the folder itself was found
  std::string found;          // the folder or its nearest existing ancestor
  std::vector<Identity> ids;  // that folder and every folder above it
};

// The identities of the folder (or of its nearest existing ancestor) and of
// every folder above it, up to the root. The way up goes through "..", which
// leaves every link behind; where ".." is not understood, the lexical
// parents of the path are taken.
Chain IdentityChain(FileSystem& fs, const std::string& folder) {
  constexpr int kMaxDepth = 4096;
  Chain result;
  std::vector<Identity>& chain = result.ids;
  std::string path = WithSeparator(folder);
  Identity id;
  result.exists = Identify(fs, path, id);
  for (int depth = 0; !result.exists && !Identify(fs, path, id); ++depth) {
    const std::string parent = LexicalParent(path);
    if (parent == path || depth > kMaxDepth) return result;
    path = parent;
  }
  chain.push_back(id);
  result.found = path;
  bool lexical = false;
  for (int depth = 0; depth < kMaxDepth; ++depth) {
    Identity up;
    ItemInfo info;
    if (!lexical && fs.Lookup(path + "..", info) == kSuccess) {
      path += "../";
      up = {info.device, info.inode};
    } else {
      lexical = true;
      const std::string parent = LexicalParent(path);
      if (parent == path || !Identify(fs, parent, up)) break;
      path = parent;
    }
    if (up == chain.back()) break;  // the root is its own parent
    chain.push_back(up);
  }
  return result;
}

bool Contains(const std::vector<Identity>& chain, const Identity& id) {
  return std::find(chain.begin(), chain.end(), id) != chain.end();
}

// The folder of `inner` is `outer` or lies below it in one file system.
bool Within(const FolderPlace& inner, const FolderPlace& outer) {
  if (inner.file_system != outer.file_system) return false;
  if (outer.path == "/" || inner.path == outer.path) return true;
  return inner.path.starts_with(outer.path) && inner.path[outer.path.size()] == '/';
}

}  // namespace

Nesting CheckNesting(FileSystem& fs, const std::string& a, const std::string& b) {
  Nesting nesting;
  const Chain chain_a = IdentityChain(fs, a);
  const Chain chain_b = IdentityChain(fs, b);
  if (chain_a.ids.empty() || chain_b.ids.empty()) return nesting;
  // A folder that does not exist yet lies inside the other when its nearest
  // existing ancestor does; it never holds the other.
  nesting.nested = (chain_b.exists && Contains(chain_a.ids, chain_b.ids.front())) ||
                   (chain_a.exists && Contains(chain_b.ids, chain_a.ids.front()));
  if (nesting.nested || (!chain_a.exists && !chain_b.exists)) return nesting;
  // A bind mount shows a subfolder under another path whose ancestors are
  // not the subfolder's own: where each lies inside its file system tells.
  FolderPlace place_a;
  FolderPlace place_b;
  const ErrorCode error_a = fs.LocateFolder(chain_a.found, place_a);
  const ErrorCode error_b = fs.LocateFolder(chain_b.found, place_b);
  if (error_a == kErrNotSupported || error_b == kErrNotSupported) return nesting;  // no mounts
  if (error_a != kSuccess || error_b != kSuccess) {
    nesting.nested = true;
    nesting.unplaced = error_a != kSuccess ? a : b;
    nesting.unplaced_error = error_a != kSuccess ? error_a : error_b;
    return nesting;
  }
  nesting.nested =
      (chain_b.exists && Within(place_a, place_b)) || (chain_a.exists && Within(place_b, place_a));
  return nesting;
}

bool FolderLiesWithin(FileSystem& fs, const std::string& inner, const std::string& outer) {
  const Chain chain_inner = IdentityChain(fs, inner);
  const Chain chain_outer = IdentityChain(fs, outer);
  if (chain_inner.ids.empty() || !chain_outer.exists) return false;
  if (Contains(chain_inner.ids, chain_outer.ids.front())) return true;
  // A bind mount of `outer` seen under another path: where each lies tells.
  // Where that cannot be learned the answer is no; callers act only on a yes.
  FolderPlace place_inner;
  FolderPlace place_outer;
  return fs.LocateFolder(chain_inner.found, place_inner) == kSuccess &&
         fs.LocateFolder(chain_outer.found, place_outer) == kSuccess &&
         Within(place_inner, place_outer);
}

}  // namespace twinmere
