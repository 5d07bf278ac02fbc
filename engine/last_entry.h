// Remembers the entry of a hash map that the previous append went to.
// Consecutive nodes of a walk mostly lie in one file, and often on one line,
// so most appends find their list by comparing keys instead of hashing one.
#pragma once

#include <utility>

namespace astsieve {

template <typename Map>
class LastEntry {
 public:
  using Key = typename Map::key_type;
  using Value = typename Map::mapped_type;

  // The value under `key`, inserted empty if absent. References to the keys
  // and values of a node-based hash map stay valid while it grows, so the
  // entry remembered here does until forget() or the map's end; its key is
  // the map's own, not a copy.
  Value& get(Map& map, const Key& key) {
    if (value_ == nullptr || !(key == *key_)) {
      auto& entry = *map.try_emplace(key).first;
      key_ = &entry.first;
      value_ = &entry.second;
    }
    return *value_;
  }

  // The same; a key that is inserted is moved into the map, one that is
  // found stays as it is.
  Value& get(Map& map, Key&& key) {
    if (value_ == nullptr || !(key == *key_)) {
      auto& entry = *map.try_emplace(std::move(key)).first;
      key_ = &entry.first;
      value_ = &entry.second;
    }
    return *value_;
  }

  // For a value that must not be taken from the previous map any more.
  void forget() noexcept { value_ = nullptr; }

 private:
  const Key* key_ = nullptr;
  Value* value_ = nullptr;
};

}  // namespace astsieve
