// Options with every flag a launcher or the options dialog carries set at once.
#pragma once

#include "base/sync_options.h"

namespace twinmere::testing {

// Every flag but Delete, which Bidi leaves out, and ForceDelete, which goes
// only with Delete.
inline SyncOptions EveryFlagButDelete() {
  SyncOptions all;
  for (bool SyncOptions::*flag :
       {&SyncOptions::ExcludeSubfolders, &SyncOptions::Bidi, &SyncOptions::New, &SyncOptions::Case,
        &SyncOptions::NoDaylight, &SyncOptions::NoSecurity, &SyncOptions::AllowDecryption,
        &SyncOptions::Start, &SyncOptions::Minimized, &SyncOptions::Quiet, &SyncOptions::QuickStart,
        &SyncOptions::DisallowStop, &SyncOptions::Append, &SyncOptions::Preview})
    all.*flag = true;
  return all;
}

}  // namespace twinmere::testing
