// Byte classes of a pattern: bracket expressions and class escapes, turned
// into byte sets with std::regex_traits<char> under the global locale of the
// moment, with the standard library's rules for ranges, classes, collating
// elements and equivalence classes.
#pragma once

#include <regex>
#include <string>
#include <vector>

#include "program.h"

namespace astsieve {
namespace pattern {

class ClassBuilder {
 public:
  using Traits = std::regex_traits<char>;

  ClassBuilder(bool negated, const Traits& traits);

  void add_char(char c);
  // Adds [[.name.]]; returns the collating element's text.
  std::string add_collating_element(const std::string& name);
  void add_equivalence_class(const std::string& name);
  // `negated` is true for \D, \S and \W inside brackets.
  void add_character_class(const std::string& name, bool negated);
  void add_range(char low, char high);

  ByteSet build() const;

 private:
  bool matches(char c) const;

  const Traits& traits_;
  bool negated_;
  std::vector<char> chars_;
  std::vector<std::string> equivalences_;
  std::vector<std::pair<char, char>> ranges_;
  std::vector<Traits::char_class_type> negated_classes_;
  Traits::char_class_type classes_{};
};

// What '.' takes: any byte but line feed and carriage return.
ByteSet any_byte_but_line_ends();

// The word characters of \b and \B.
ByteSet word_bytes(const std::regex_traits<char>& traits);

}  // namespace pattern
}  // namespace astsieve
