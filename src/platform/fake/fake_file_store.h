#pragma once
// An in-memory file system for tests: a map from path to content, with knobs
// for the failures the real one can have.
#include <map>
#include <set>

#include "platform/file_store.h"

namespace tw::platform {

class FakeFileStore : public FileStore {
 public:
  std::optional<std::string> read(const std::string& path, std::size_t max_bytes) override {
    auto it = files.find(path);
    if (it == files.end() || unreadable.count(path) || it->second.size() > max_bytes) return std::nullopt;
    return it->second;
  }
  Obstacle read_obstacle(const std::string& path, std::size_t max_bytes) override {
    auto it = files.find(path);
    if (it == files.end()) return Obstacle::None;
    if (unreadable.count(path)) return Obstacle::Unreadable;
    return it->second.size() > max_bytes ? Obstacle::TooBig : Obstacle::None;
  }
  bool replace(const std::string& path, std::string_view content) override {
    if (read_only || unwritable.count(path)) return false;
    ++replace_count;
    files[path] = std::string(content);
    return true;
  }
  bool write(const std::string& path, std::string_view content, bool truncate) override {
    if (read_only || unwritable.count(path)) return false;
    auto& f = files[path];
    if (truncate) f.clear();
    f.append(content);
    return true;
  }
  std::optional<std::uint64_t> free_bytes(const std::string&) override { return free; }

  std::map<std::string, std::string> files;
  std::set<std::string> unreadable;   // read() fails for these
  std::set<std::string> unwritable;   // replace()/write() fail for these
  bool read_only = false;             // every write fails
  std::optional<std::uint64_t> free = std::uint64_t{1} << 40;
  int replace_count = 0;
};

}  // namespace tw::platform
