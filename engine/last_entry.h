// Remembers the entry of a hash map that the previous append went to.
// Consecutive nodes of a walk mostly lie in one file, and often on one line,
// so most appends find their list by comparing keys instead of hashing one.
#pragma once

namespace astsieve {

template <typename Map>
class LastEntry {
 public:
  using Key = typename Map::key_type;
  using Value = typename Map::mapped_type;

  // The value under `key`, inserted empty if absent. References to values of
  // a node-based hash map stay valid while it grows, so the one remembered
  // here does until forget() or the map's end.
  Value& get(Map& map, const Key& key) {
    if (value_ == nullptr || !(key == key_)) {
      value_ = &map[key];
      key_ = key;
    }
    return *value_;
  }

  // For a value that must not be taken from the previous map any more.
  void forget() noexcept { value_ = nullptr; }

 private:
  Key key_{};
  Value* value_ = nullptr;
};

}  // namespace astsieve
