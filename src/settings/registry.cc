#include "settings/registry.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/version.h"
#include "platform/errors.h"
#include "settings/hive_store.h"

namespace twinmere {
namespace {

// Splits a key path into its levels, dropping empty ones: "\A\\B\" is A, B.
std::vector<std::string> Levels(std::string_view key_path) {
  std::vector<std::string> levels;
  size_t start = 0;
  while (start <= key_path.size()) {
    size_t end = key_path.find('\\', start);
    if (end == std::string_view::npos) end = key_path.size();
    if (end > start) levels.emplace_back(key_path.substr(start, end - start));
    start = end + 1;
  }
  return levels;
}

std::string Join(const std::vector<std::string>& levels) {
  std::string path;
  for (const std::string& level : levels) {
    if (!path.empty()) path += '\\';
    path += level;
  }
  return path;
}

std::string Normalized(std::string_view key_path) {
  return Join(Levels(key_path));
}

// 0, or the error code that refuses a name for writing.
int CheckName(std::string_view name) {
  if (name.size() > kMaxRegistryName) return kErrNameTooLong;
  if (name.find('\0') != std::string_view::npos) return kErrInvalidArgument;
  return 0;
}

std::string SourceOf(const char* operation) {
  return std::string(kProgramTitle) + ".Registry." + operation;
}

[[noreturn]] void RaiseWriting(int code) {
  throw RegistryError(kErrWriting, SourceOf("KeyValue"),
                      "Error " + std::to_string(code) + " writing registry.", code);
}

}  // namespace

RegistryError::RegistryError(uint32_t number, std::string source, std::string description,
                             int system_code)
    : std::runtime_error(std::move(description)),
      number_(number),
      source_(std::move(source)),
      system_code_(system_code) {}

RegistryPaths DefaultRegistryPaths(const UserFolders& folders) {
  RegistryPaths paths;
  if (!folders.config.empty()) paths.user = folders.config + "/twinmere/registry.sqlite3";
  paths.machine = "/etc/twinmere/registry.sqlite3";
  return paths;
}

Registry::Registry(RegistryPaths paths, RegistryContext context) : context_(std::move(context)) {
  if (!context_.getenv_fn) {
    context_.getenv_fn = [](const char* name) -> const char* { return std::getenv(name); };
  }
  if (!context_.notice) {
    context_.notice = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  }
  user_ = std::make_unique<HiveStore>(std::move(paths.user), HiveStore::Access::kReadWrite,
                                      context_.notice);
  machine_ = std::make_unique<HiveStore>(std::move(paths.machine), HiveStore::Access::kReadOnly,
                                         context_.notice);
}

Registry::~Registry() = default;

HiveStore* Registry::StoreFor(Hive hive) const {
  switch (hive) {
    case Hive::CurrentUser:
      return user_.get();
    case Hive::LocalMachine:
      return machine_.get();
  }
  return nullptr;
}

RegistryValue Registry::EnumKeys(Hive hive, std::string_view key_path) const {
  HiveStore* store = StoreFor(hive);
  std::vector<std::string> names;
  if (store == nullptr || store->ListSubkeys(Normalized(key_path), &names) != 0) {
    return RegistryFailure{kFailEnumKeys};
  }
  return RegistryList(std::move(names));
}

RegistryValue Registry::EnumValues(Hive hive, std::string_view key_path) const {
  HiveStore* store = StoreFor(hive);
  std::vector<std::string> names;
  if (store == nullptr || store->ListValues(Normalized(key_path), &names) != 0) {
    return RegistryFailure{kFailEnumValues};
  }
  return RegistryList(std::move(names));
}

RegistryValue Registry::KeyValue(Hive hive, std::string_view key_path,
                                 std::string_view value_name) const {
  HiveStore* store = StoreFor(hive);
  int64_t type = 0;
  StoredData data;
  if (store == nullptr || store->ReadValue(Normalized(key_path), value_name, &type, &data) != 0) {
    return RegistryFailure{kFailKeyValue};
  }
  return DecodeStoredValue(type, data, context_.getenv_fn);
}

void Registry::KeyValue(Hive hive, std::string_view key_path, std::string_view value_name,
                        const RegistryValue& value) {
  if (value.IsFailure()) {
    throw RegistryError(kErrUnsupportedType, SourceOf("KeyValue"), "Unsupported data type.", 0);
  }
  HiveStore* store = StoreFor(hive);
  if (store == nullptr) RaiseWriting(kErrNotOpen);
  if (hive == Hive::LocalMachine) RaiseWriting(kErrAccessDenied);
  const std::vector<std::string> levels = Levels(key_path);
  for (const std::string& level : levels) {
    if (const int code = CheckName(level); code != 0) RaiseWriting(code);
  }
  if (const int code = CheckName(value_name); code != 0) RaiseWriting(code);
  EncodedValue encoded;
  if (const int code = EncodeValue(value, &encoded); code != 0) RaiseWriting(code);
  if (const int code = store->WriteValue(levels, value_name, encoded); code != 0) {
    RaiseWriting(code);
  }
}

void Registry::DeleteKey(Hive hive, std::string_view key_path) {
  HiveStore* store = StoreFor(hive);
  const int code = store == nullptr ? kErrNotOpen : store->DeleteKey(Normalized(key_path));
  if (code != 0) {
    throw RegistryError(kErrDeletingKey, SourceOf("DeleteKey"),
                        "Error " + std::to_string(code) + " Deleting registry key.", code);
  }
}

void Registry::DeleteValue(Hive hive, std::string_view key_path, std::string_view value_name) {
  HiveStore* store = StoreFor(hive);
  const int code =
      store == nullptr ? kErrNotOpen : store->DeleteValue(Normalized(key_path), value_name);
  if (code != 0) {
    throw RegistryError(kErrDeletingValue, SourceOf("DeleteValue"),
                        "Error " + std::to_string(code) + " Deleting registry value.", code);
  }
}

}  // namespace twinmere
