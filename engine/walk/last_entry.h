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

  // The value under `key`, inserted empty if absent. A key that is inserted
  // is copied into the map, or moved when given as an rvalue; one that is
  // found stays as it is. References to the keys and values of a node-based
  // hash map stay valid while it grows, so the entry remembered here does
  // until forget() or the map's end; its key is the map's own, not a copy.
  template <typename K>
  Value& get(Map& map, K&& key) {
    if (value_ == nullptr || !(key == *key_)) {
      auto& entry = *map.try_emplace(std::forward<K>(key)).first;
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
