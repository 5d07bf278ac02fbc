// Splits an ECMAScript pattern into tokens, one at a time, by the standard
// library's rules (so that "\cX", "\u0141", "[]" and friends mean what they
// mean there).
#pragma once

#include <locale>
#include <string>

namespace astsieve {
namespace pattern {

enum class Token {
  AnyChar,
  Backref,
  BracketBegin,
  BracketNegBegin,
  BracketEnd,
  BracketDash,
  CharClassName,
  CollatingSymbol,
  EquivalenceClassName,
  Star,
  Plus,
  Question,
  IntervalBegin,
  IntervalEnd,
  Comma,
  DupCount,
  LineBegin,
  LineEnd,
  Or,
  OrdinaryChar,
  HexNumber,
  QuotedClass,
  WordBoundary,
  GroupBegin,
  NonCapturingBegin,
  LookaheadBegin,
  GroupEnd,
  End,
};

class Scanner {
 public:
  Scanner(const std::string& pattern, const std::locale& locale);

  const std::ctype<char>& ctype() const { return ctype_; }
  Token token() const { return token_; }
  // The text of the token: the byte of an OrdinaryChar; the rest of an
  // escape, the digits or the name for the others that have one.
  char ordinary_char() const { return char_; }
  const std::string& value() const { return value_; }
  void advance();

 private:
  enum class Mode { Normal, InBracket, InBrace };

  void scan_normal();
  void scan_in_bracket();
  void scan_in_brace();
  void eat_escape();
  void eat_class(char delimiter);
  bool is(std::ctype_base::mask mask, char c) const { return ctype_.is(mask, c); }

  const std::string& pattern_;
  std::size_t at_ = 0;
  const std::ctype<char>& ctype_;
  Mode mode_ = Mode::Normal;
  Token token_ = Token::End;
  char char_ = 0;
  std::string value_;
};

}  // namespace pattern
}  // namespace astsieve
