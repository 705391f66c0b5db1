#include "app/program_data.h"

#include "fs/paths.h"

#ifndef TWINMERE_INSTALL_DATADIR
#error "TWINMERE_INSTALL_DATADIR must name the install prefix's data folder"
#endif

namespace twinmere {

std::vector<std::string> ProgramDataFolders(const std::string& exe_folder) {
  std::vector<std::string> folders;
  if (!exe_folder.empty() && exe_folder.front() == kSeparator) {
    folders.push_back(AddSeparator(ParentFolder(RemoveSeparator(exe_folder))) + "share");
  }
  const std::string prefix_data = RemoveSeparator(TWINMERE_INSTALL_DATADIR);
  if (folders.empty() || folders.front() != prefix_data) folders.push_back(prefix_data);
  return folders;
}

std::string FindProgramData(FileSystem& fs, const std::string& relative,
                            const std::string& exe_folder) {
  for (const std::string& folder : ProgramDataFolders(exe_folder)) {
    const std::string path = folder + kSeparator + relative;
    ItemInfo info;
    if (fs.Lookup(path, info) == kSuccess) return path;
  }
  return {};
}

}  // namespace twinmere
