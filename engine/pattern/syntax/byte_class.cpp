#include "byte_class.h"

#include <algorithm>

#include "error.h"

namespace astsieve {
namespace pattern {

int ByteSet::count() const {
  int total = 0;
  for (std::uint64_t word : words_) {
    total += __builtin_popcountll(word);
  }
  return total;
}

int ByteSet::single() const {
  if (count() != 1) {
    return -1;
  }
  for (std::size_t i = 0; i < words_.size(); ++i) {
    if (words_[i] != 0) {
      return static_cast<int>(i * 64) + __builtin_ctzll(words_[i]);
    }
  }
  return -1;
}

void ClassTest::add(Traits::char_class_type mask, bool negated, ByteSet& set) const {
#if defined(__GLIBCXX__)
  // libstdc++'s isctype: the ctype mask, and '_' for \w.
  const bool underscore = (mask._M_extended & Traits::char_class_type::_S_under) != 0;
  const char under = underscore ? ctype_.widen('_') : '\0';
  for (unsigned byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const bool in = ctype_.is(mask._M_base, c) || (underscore && c == under);
    if (in != negated) {
      set.add(static_cast<unsigned char>(byte));
    }
  }
#else
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (traits_.isctype(static_cast<char>(byte), mask) != negated) {
      set.add(static_cast<unsigned char>(byte));
    }
  }
#endif
  static_cast<void>(traits_);
}

ClassBuilder::ClassBuilder(bool negated, const Traits& traits, const std::ctype<char>& ctype)
    : traits_(traits), classes_(traits, ctype), negated_(negated) {}

std::string ClassBuilder::add_collating_element(const std::string& name) {
  std::string element = traits_.lookup_collatename(name.begin(), name.end());
  if (element.empty()) {
    fail(std::regex_constants::error_collate);
  }
  add_char(element[0]);
  return element;
}

void ClassBuilder::add_equivalence_class(const std::string& name) {
  std::string element = traits_.lookup_collatename(name.begin(), name.end());
  if (element.empty()) {
    fail(std::regex_constants::error_collate);
  }
  equivalences_.push_back(traits_.transform_primary(element.begin(), element.end()));
}

void ClassBuilder::add_character_class(const std::string& name, bool negated) {
  const Traits::char_class_type mask = traits_.lookup_classname(name.begin(), name.end(), false);
  if (mask == Traits::char_class_type{}) {
    fail(std::regex_constants::error_collate);
  }
  classes_.add(mask, negated, set_);
}

void ClassBuilder::add_range(char low, char high) {
  if (low > high) {
    fail(std::regex_constants::error_range);
  }
  for (int c = low; c <= high; ++c) {
    set_.add(static_cast<unsigned char>(c));
  }
}

ByteSet ClassBuilder::build() const {
  ByteSet set = set_;
  // Equivalence classes compare collation keys, one byte at a time.
  for (unsigned byte = 0; !equivalences_.empty() && byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const std::string key = traits_.transform_primary(&c, &c + 1);
    if (std::find(equivalences_.begin(), equivalences_.end(), key) != equivalences_.end()) {
      set.add(static_cast<unsigned char>(byte));
    }
  }
  if (negated_) {
    set.invert();
  }
  return set;
}

ByteSet word_bytes(const std::regex_traits<char>& traits, const std::ctype<char>& ctype) {
  const char name = 'w';
  ByteSet set;
  ClassTest(traits, ctype).add(traits.lookup_classname(&name, &name + 1), false, set);
  return set;
}

}  // namespace pattern
}  // namespace astsieve
