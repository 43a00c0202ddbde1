#pragma once

#include <optional>
#include <string>

#include "platform/game_folder.h"

namespace fogswitch::testing {

// A folder with at most one file, held in memory, whose operations can be made to fail.
class FakeFolder final : public GameFolder {
 public:
  bool has_game = true;
  std::optional<std::string> cam_cfg;  // nothing: there is no cam.cfg
  bool read_fails = false;
  bool resize_fails = false;
  bool close_fails = false;
  std::optional<std::size_t> write_budget;     // bytes written before one write fails
  std::optional<std::uint64_t> reported_size;  // a size that differs from the content's
  int opens = 0;
  bool closed = false;
  std::string opened_name;

  bool HasEntryMatching(const char* pattern) override {
    pattern_ = pattern;
    return has_game;
  }
  const std::string& pattern() const { return pattern_; }

  std::unique_ptr<UpdateFile> OpenForUpdate(const char* name) override {
    ++opens;
    opened_name = name;
    if (!cam_cfg) return nullptr;
    return std::make_unique<File>(*this);
  }

 private:
  class File final : public UpdateFile {
   public:
    explicit File(FakeFolder& folder) : folder_(folder) {}
    std::optional<std::uint64_t> Size() override {
      return folder_.reported_size.value_or(folder_.cam_cfg->size());
    }
    std::optional<std::size_t> Read(char* buffer, std::size_t count) override {
      if (folder_.read_fails) return std::nullopt;
      const std::string& bytes = *folder_.cam_cfg;
      const std::size_t got = std::min(count, bytes.size() - position_);
      bytes.copy(buffer, got, position_);
      position_ += got;
      return got;
    }
    bool WriteAt(std::uint64_t offset, const char* data, std::size_t count) override {
      std::string& bytes = *folder_.cam_cfg;
      for (std::size_t i = 0; i < count; ++i) {
        if (folder_.write_budget && (*folder_.write_budget)-- == 0) {
          folder_.write_budget.reset();  // one failure; what follows may succeed again
          return false;
        }
        if (offset + i >= bytes.size()) bytes.resize(offset + i + 1, '\0');
        bytes[offset + i] = data[i];
      }
      return true;
    }
    bool Resize(std::uint64_t length) override {
      if (folder_.resize_fails) return false;
      folder_.cam_cfg->resize(length, '\0');
      return true;
    }
    bool Close() override {
      folder_.closed = true;
      return !folder_.close_fails;
    }

   private:
    FakeFolder& folder_;
    std::size_t position_ = 0;
  };

  std::string pattern_;
};

}  // namespace fogswitch::testing
