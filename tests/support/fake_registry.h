#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace fogswitch::testing {

// An in-memory registry that records what was done to it and flags any misuse of a key.
class FakeRegistry final : public Registry {
 public:
  struct Value {
    unsigned long type = 0;
    std::string bytes;
  };
  using Key = std::map<std::string, Value>;

  static constexpr RegStatus kMoreData = 234;
  static constexpr RegStatus kAccessDenied = 5;
  static constexpr RegStatus kInvalidHandle = 6;

  std::map<std::string, Key> keys;
  std::set<std::string> read_only_keys;  // keys whose values can't be set
  std::set<std::string> failing_values;  // value names that can't be set anywhere
  std::vector<std::string> faults;       // misuse seen: an empty list is a clean run
  std::vector<std::string> opened;       // "path/access" for every key that opened
  std::vector<std::string> queried;      // every value name asked for
  std::set<std::string> written_keys;
  int open_keys = 0;

  void Put(const std::string& key, const std::string& name, const std::string& bytes,
           unsigned long type = 1) {
    keys[key][name] = {type, bytes};
  }

  RegStatus RegOpenKeyExA(const char* path, unsigned long access, RegHandle* key) override {
    const auto found = keys.find(path);
    if (found == keys.end()) return kRegFileNotFound;
    *key = next_handle_++;
    handles_[*key] = found->first;
    ++open_keys;
    opened.push_back(found->first + "/" + std::to_string(access));
    return kRegSuccess;
  }

  RegStatus RegQueryValueExA(RegHandle handle, const char* name, unsigned char* data,
                             unsigned long* size) override {
    queried.push_back(name);
    const Key* key = Find(handle, "query");
    if (key == nullptr) return kInvalidHandle;
    const auto value = key->find(name);
    if (value == key->end()) return kRegFileNotFound;
    const std::string& bytes = value->second.bytes;
    if (bytes.size() > *size) {
      *size = static_cast<unsigned long>(bytes.size());
      return kMoreData;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *size = static_cast<unsigned long>(bytes.size());
    return kRegSuccess;
  }

  RegStatus RegSetValueExA(RegHandle handle, const char* name, unsigned long type,
                           const unsigned char* data, unsigned long size) override {
    const Key* key = Find(handle, "set");
    if (key == nullptr) return kInvalidHandle;
    const std::string& path = handles_[handle];
    if (read_only_keys.count(path) != 0 || failing_values.count(name) != 0) return kAccessDenied;
    keys[path][name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
    written_keys.insert(path);
    return kRegSuccess;
  }

  RegStatus RegCloseKey(RegHandle handle) override {
    if (Find(handle, "close") == nullptr) return kInvalidHandle;
    handles_.erase(handle);
    --open_keys;
    return kRegSuccess;
  }

 private:
  const Key* Find(RegHandle handle, const char* what) {
    const auto path = handles_.find(handle);
    if (path == handles_.end()) {
      faults.push_back(std::string(what) + " on a key that is not open");
      return nullptr;
    }
    return &keys[path->second];
  }

  RegHandle next_handle_ = 0x1000;
  std::map<RegHandle, std::string> handles_;
};

}  // namespace fogswitch::testing
