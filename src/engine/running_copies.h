// Copies that run beside the walk: where every request of the receiving file
// system is a round trip, the copy plan of a file starts its copy and the
// walk goes on; the rest of the plan (the follow-up steps and the line) comes
// when the copy ends, and its line takes the place the item had in the walk
// (Reporter::ReservePlace). The walk collects the copies that ended between
// items, and all of them before it ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/sync_host.h"
#include "engine/sync_session.h"
#include "fs/files_enumerator.h"
#include "fs/item_actions.h"
#include "platform/file_system.h"
#include "report/action_lines.h"
#include "report/reporter.h"

namespace twinmere {

class RunningCopies {
 public:
  // While a wait for the copies goes on, the host is served and shown the
  // progress of `session`.
  RunningCopies(Reporter& reporter, SyncHost& host, const SyncSession& session)
      : reporter_(reporter), host_(host), session_(session) {}

  // Called after every copy that ended (its line is out).
  void SetEndedCall(std::function<void()> ended) { ended_ = std::move(ended); }

  // A copying walk begins: its copies run in `pool` (null: one at a time, on
  // the walk's thread, and Active is false). `security_support`: the run
  // gives security, which a copy that could not give it gets at its end.
  void Open(std::unique_ptr<CopyPool> pool, FileSystem& fs, bool security_support);
  // Waits for every copy; then none runs beside the walk.
  void Close();
  bool Active() const { return pool_ != nullptr; }

  // The copy plan of the current file of `e`, whose copy runs beside the
  // walk: `action` is the code of its line, `side` the side written,
  // `old_size` the size of the file it replaces.
  void Start(FilesEnumerator& e, const std::string& path, ActionCode action, Side side,
             uint64_t old_size);
  // Takes the copies that ended; with `wait`, first waits until another may
  // start (Room) or until none runs (All).
  enum class Wait : uint8_t { None, Room, All };
  void Collect(Wait wait);
  // Waits for the copies running to a name in the folder of `path` that is
  // equal to its name ignoring letter case: what such a copy leaves there
  // may be the counterpart the item is compared with.
  void AwaitName(const std::string& path);
  bool RunningInto(const std::string& folder) const;
  // Work units of the copies running, as far as they got.
  double Units() const;

 private:
  struct Running {
    uint64_t tag = 0;
    StartedCopy copy;
    std::string folder;  // of copy.to, ending in "/"
    std::string name;    // of copy.to, as NameIgnoringCase gives it
    ActionCode action = kActionCopy;
    uint64_t size = 0;
    uint64_t old_size = 0;  // of the file it replaces
    Side side = Side::Target;
    uint64_t place = 0;
  };
  // Takes one copy that ended, waiting up to `seconds`; false when none did.
  bool CollectOne(double seconds);
  // The rest of the copy plan once the copy ended with `error`.
  void End(Running& running, ErrorCode error);

  Reporter& reporter_;
  SyncHost& host_;
  const SyncSession& session_;
  std::function<void()> ended_;
  FileSystem* fs_ = nullptr;
  bool security_support_ = false;
  std::unique_ptr<CopyPool> pool_;
  // In the order started.
  std::vector<std::unique_ptr<Running>> running_;
  uint64_t tags_ = 0;
};

}  // namespace twinmere
