#include "byte_class.h"

#include <algorithm>

namespace astsieve {
namespace pattern {

int ByteSet::count() const {
  int total = 0;
  for (std::uint64_t word : words_) {
    total += __builtin_popcountll(word);
  }
  return total;
}

ClassBuilder::ClassBuilder(bool negated, const Traits& traits)
    : traits_(traits), negated_(negated) {}

void ClassBuilder::add_char(char c) { chars_.push_back(c); }

std::string ClassBuilder::add_collating_element(const std::string& name) {
  std::string element = traits_.lookup_collatename(name.begin(), name.end());
  if (element.empty()) {
    throw std::regex_error(std::regex_constants::error_collate);
  }
  chars_.push_back(element[0]);
  return element;
}

void ClassBuilder::add_equivalence_class(const std::string& name) {
  std::string element = traits_.lookup_collatename(name.begin(), name.end());
  if (element.empty()) {
    throw std::regex_error(std::regex_constants::error_collate);
  }
  equivalences_.push_back(traits_.transform_primary(element.begin(), element.end()));
}

void ClassBuilder::add_character_class(const std::string& name, bool negated) {
  Traits::char_class_type mask = traits_.lookup_classname(name.begin(), name.end(), false);
  if (mask == Traits::char_class_type{}) {
    throw std::regex_error(std::regex_constants::error_collate);
  }
  if (negated) {
    negated_classes_.push_back(mask);
  } else {
    classes_ |= mask;
  }
}

void ClassBuilder::add_range(char low, char high) {
  if (low > high) {
    throw std::regex_error(std::regex_constants::error_range);
  }
  ranges_.emplace_back(low, high);
}

bool ClassBuilder::matches(char c) const {
  if (std::find(chars_.begin(), chars_.end(), c) != chars_.end()) {
    return true;
  }
  for (const auto& range : ranges_) {
    if (range.first <= c && c <= range.second) {
      return true;
    }
  }
  if (traits_.isctype(c, classes_)) {
    return true;
  }
  if (!equivalences_.empty()) {
    const std::string key = traits_.transform_primary(&c, &c + 1);
    if (std::find(equivalences_.begin(), equivalences_.end(), key) != equivalences_.end()) {
      return true;
    }
  }
  for (const auto& mask : negated_classes_) {
    if (!traits_.isctype(c, mask)) {
      return true;
    }
  }
  return false;
}

ByteSet ClassBuilder::build() const {
  ByteSet set;
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (matches(static_cast<char>(byte)) != negated_) {
      set.add(static_cast<unsigned char>(byte));
    }
  }
  return set;
}

ByteSet any_byte_but_line_ends() {
  ByteSet set;
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (byte != '\n' && byte != '\r') {
      set.add(static_cast<unsigned char>(byte));
    }
  }
  return set;
}

ByteSet word_bytes(const std::regex_traits<char>& traits) {
  const char name = 'w';
  const auto mask = traits.lookup_classname(&name, &name + 1);
  ByteSet set;
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (traits.isctype(static_cast<char>(byte), mask)) {
      set.add(static_cast<unsigned char>(byte));
    }
  }
  return set;
}

}  // namespace pattern
}  // namespace astsieve
