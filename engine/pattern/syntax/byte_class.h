// Byte classes of a pattern: bracket expressions and class escapes, turned
// into byte sets with std::regex_traits<char> under the global locale of the
// moment, with the standard library's rules for ranges, classes, collating
// elements and equivalence classes.
#pragma once

#include <locale>
#include <regex>
#include <string>
#include <vector>

#include "program.h"

namespace astsieve {
namespace pattern {

// std::regex_traits<char>::isctype for every byte of a class at once: the
// traits look their ctype facet up again on each call, this looks it up
// once.
class ClassTest {
 public:
  using Traits = std::regex_traits<char>;

  ClassTest(const Traits& traits, const std::ctype<char>& ctype) : traits_(traits), ctype_(ctype) {}

  // Adds to `set` the bytes of class `mask`, or with `negated` those outside.
  void add(Traits::char_class_type mask, bool negated, ByteSet& set) const;

 private:
  const Traits& traits_;
  const std::ctype<char>& ctype_;
};

class ClassBuilder {
 public:
  using Traits = std::regex_traits<char>;

  ClassBuilder(bool negated, const Traits& traits, const std::ctype<char>& ctype);

  void add_char(char c) { set_.add(static_cast<unsigned char>(c)); }
  // Adds [[.name.]]; returns the collating element's text.
  std::string add_collating_element(const std::string& name);
  void add_equivalence_class(const std::string& name);
  // `negated` is true for \D, \S and \W inside brackets.
  void add_character_class(const std::string& name, bool negated);
  void add_range(char low, char high);

  ByteSet build() const;

 private:
  const Traits& traits_;
  ClassTest classes_;
  bool negated_;
  ByteSet set_;  // what chars, ranges and classes add
  std::vector<std::string> equivalences_;
};

// What '.' takes: any byte but line feed and carriage return.
constexpr ByteSet any_byte_but_line_ends() {
  return ByteSet(~((std::uint64_t{1} << '\n') | (std::uint64_t{1} << '\r')), ~std::uint64_t{0},
                 ~std::uint64_t{0}, ~std::uint64_t{0});
}

// The word characters of \b and \B.
ByteSet word_bytes(const std::regex_traits<char>& traits, const std::ctype<char>& ctype);

}  // namespace pattern
}  // namespace astsieve
