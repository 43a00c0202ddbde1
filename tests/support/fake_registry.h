#pragma once

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FOGSWITCH_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(FOGSWITCH_ASAN)
#include <sanitizer/asan_interface.h>
#define FOGSWITCH_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define FOGSWITCH_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define FOGSWITCH_POISON(p, n) ((void)(p), (void)(n))
#define FOGSWITCH_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace fogswitch::testing {

// An in-memory registry that records what was done to it and flags any misuse of a key. Under
// AddressSanitizer the bytes of a read buffer past the data returned are poisoned until the
// next read or the last close, so reading them is caught.
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
  std::set<std::string> unopenable_keys;    // keys that exist but refuse to open
  std::set<std::string> read_only_keys;     // keys whose values can't be set
  std::set<std::string> failing_values;     // value names that can't be set anywhere
  std::set<std::string> unreadable_values;  // value names whose reads fail anywhere
  std::vector<std::string> faults;          // misuse seen: an empty list is a clean run
  std::vector<std::string> opened;          // "path/access" for every key that opened
  std::vector<std::string> queried;         // every value name asked for
  std::set<std::string> written_keys;
  std::vector<std::string> fully_written;  // keys closed after all three fog values were set
  int open_keys = 0;

  ~FakeRegistry() override { Unpoison(); }

  void Put(const std::string& key, const std::string& name, const std::string& bytes,
           unsigned long type = 1) {
    keys[key][name] = {type, bytes};
  }

  RegStatus RegOpenKeyExA(const char* path, unsigned long access, RegHandle* key) override {
    const auto found = keys.find(path);
    if (found == keys.end()) return kRegFileNotFound;
    if (unopenable_keys.count(path) != 0) return kAccessDenied;
    *key = next_handle_++;
    handles_[*key] = {found->first, {}};
    ++open_keys;
    opened.push_back(found->first + "/" + std::to_string(access));
    return kRegSuccess;
  }

  RegStatus RegQueryValueExA(RegHandle handle, const char* name, unsigned char* data,
                             unsigned long* size) override {
    Unpoison();
    queried.push_back(name);
    const Key* key = Find(handle, "query");
    if (key == nullptr) return kInvalidHandle;
    const auto value = key->find(name);
    if (value == key->end()) return kRegFileNotFound;
    if (unreadable_values.count(name) != 0) return kAccessDenied;
    const std::string& bytes = value->second.bytes;
    if (bytes.size() > *size) {
      *size = static_cast<unsigned long>(bytes.size());
      return kMoreData;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    poisoned_ = data + bytes.size();
    poisoned_size_ = *size - bytes.size();
    FOGSWITCH_POISON(poisoned_, poisoned_size_);
    *size = static_cast<unsigned long>(bytes.size());
    return kRegSuccess;
  }

  RegStatus RegSetValueExA(RegHandle handle, const char* name, unsigned long type,
                           const unsigned char* data, unsigned long size) override {
    if (Find(handle, "set") == nullptr) return kInvalidHandle;
    auto& [path, set_names] = handles_[handle];
    if (read_only_keys.count(path) != 0 || failing_values.count(name) != 0) return kAccessDenied;
    keys[path][name] = {type, std::string(reinterpret_cast<const char*>(data), size)};
    written_keys.insert(path);
    set_names.insert(name);
    return kRegSuccess;
  }

  RegStatus RegCloseKey(RegHandle handle) override {
    if (Find(handle, "close") == nullptr) return kInvalidHandle;
    const auto& [path, set_names] = handles_[handle];
    if (set_names == std::set<std::string>{"TableFogEnable", "WFogEnable", "ZFogEnable"}) {
      fully_written.push_back(path);
    }
    handles_.erase(handle);
    if (--open_keys == 0) Unpoison();  // the buffer's owner is done with it
    return kRegSuccess;
  }

 private:
  struct OpenKey {
    std::string path;
    std::set<std::string> set_names;
  };

  const Key* Find(RegHandle handle, const char* what) {
    const auto open = handles_.find(handle);
    if (open == handles_.end()) {
      faults.push_back(std::string(what) + " on a key that is not open");
      return nullptr;
    }
    return &keys[open->second.path];
  }

  void Unpoison() {
    if (poisoned_ != nullptr) FOGSWITCH_UNPOISON(poisoned_, poisoned_size_);
    poisoned_ = nullptr;
  }

  RegHandle next_handle_ = 0x1000;
  std::map<RegHandle, OpenKey> handles_;
  unsigned char* poisoned_ = nullptr;
  std::size_t poisoned_size_ = 0;
};

}  // namespace fogswitch::testing
