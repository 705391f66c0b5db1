#include "settings/registry_value.h"

#include <cstring>

#include "platform/errors.h"

namespace twinmere {
namespace {

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9');
}

RegistryValue Failure() {
  return RegistryFailure{kFailKeyValue};
}

RegistryList SplitList(const std::string& bytes) {
  RegistryList list;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t nul = bytes.find('\0', start);
    if (nul == std::string::npos) {
      list.push_back(bytes.substr(start));  // a last element without its NUL
      break;
    }
    list.push_back(bytes.substr(start, nul - start));
    start = nul + 1;
  }
  return list;
}

}  // namespace

int32_t RegistryValue::FailureCode() const {
  const auto* failure = std::get_if<RegistryFailure>(&value_);
  return failure == nullptr ? 0 : failure->code;
}

std::string ExpandEnvironmentText(std::string_view text, const GetEnv& getenv_fn) {
  const size_t nul = text.find('\0');
  if (nul != std::string_view::npos) text = text.substr(0, nul);
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '$' || i + 1 >= text.size()) {
      out += text[i++];
    } else {
      const bool braced = text[i + 1] == '{';
      const size_t name_start = i + (braced ? 2 : 1);
      size_t name_end = name_start;
      if (name_end < text.size() && IsNameStart(text[name_end])) {
        while (name_end < text.size() && IsNameChar(text[name_end])) ++name_end;
      }
      const bool closed = !braced || (name_end < text.size() && text[name_end] == '}');
      const char* value = nullptr;
      if (name_end > name_start && closed) {
        const std::string name(text.substr(name_start, name_end - name_start));
        if (getenv_fn) value = getenv_fn(name.c_str());
      }
      if (value == nullptr) {
        out += text[i++];  // not a reference, or an unset variable: keep as written
      } else {
        out += value;
        i = name_end + (braced ? 1 : 0);
      }
    }
    if (out.size() > kMaxExpandedLength) return {};
  }
  return out;
}

RegistryValue DecodeStoredValue(int64_t type, const StoredData& data, const GetEnv& getenv_fn) {
  using Storage = StoredData::Storage;
  if (data.storage == Storage::kNull) return Failure();
  const std::string& bytes = data.bytes;
  switch (type) {
    case static_cast<int64_t>(RegistryType::kText):
      if (data.storage == Storage::kInteger) return std::to_string(data.integer);
      return bytes;  // an empty text is a value: only a missing datum is "size 0"
    case static_cast<int64_t>(RegistryType::kExpandText):
      if (data.storage == Storage::kInteger) return std::to_string(data.integer);
      return ExpandEnvironmentText(bytes, getenv_fn);
    case static_cast<int64_t>(RegistryType::kBytes):
      if (data.storage == Storage::kInteger || bytes.empty()) return Failure();
      return RegistryBytes(bytes.begin(), bytes.end());
    case static_cast<int64_t>(RegistryType::kInteger):
      if (data.storage != Storage::kInteger || data.integer < INT32_MIN ||
          data.integer > int64_t{UINT32_MAX}) {
        return Failure();
      }
      return static_cast<int32_t>(static_cast<uint32_t>(data.integer));
    case static_cast<int64_t>(RegistryType::kList):
      if (data.storage == Storage::kInteger) return Failure();
      return SplitList(bytes);
    default:
      return Failure();
  }
}

int EncodeValue(const RegistryValue& value, EncodedValue* out) {
  using Storage = StoredData::Storage;
  out->data = StoredData{};
  switch (value.Kind()) {
    case ValueKind::kFailure:
      return kErrInvalidArgument;
    case ValueKind::kText:
      out->type = RegistryType::kText;
      out->data.storage = Storage::kText;
      out->data.bytes = *value.Text();
      return 0;
    case ValueKind::kExpandText:
      out->type = RegistryType::kExpandText;
      out->data.storage = Storage::kText;
      out->data.bytes = value.Expandable()->text;
      return 0;
    case ValueKind::kInteger:
      out->type = RegistryType::kInteger;
      out->data.storage = Storage::kInteger;
      out->data.integer = *value.Integer();
      return 0;
    case ValueKind::kList:
      out->type = RegistryType::kList;
      out->data.storage = Storage::kBlob;
      for (const std::string& element : *value.List()) {
        if (element.find('\0') != std::string::npos) return kErrInvalidArgument;
        out->data.bytes += element;
        out->data.bytes += '\0';
      }
      return 0;
    case ValueKind::kBytes:
      out->type = RegistryType::kBytes;
      out->data.storage = Storage::kBlob;
      out->data.bytes.assign(value.Bytes()->begin(), value.Bytes()->end());
      return 0;
  }
  return kErrInvalidArgument;
}

}  // namespace twinmere
