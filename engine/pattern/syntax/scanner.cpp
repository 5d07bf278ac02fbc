#include "scanner.h"

#include <regex>

#include "error.h"

namespace astsieve {
namespace pattern {
namespace {

// The characters that mean something outside brackets.
bool is_special(char c) {
  switch (c) {
    case '^':
    case '$':
    case '\\':
    case '.':
    case '*':
    case '+':
    case '?':
    case '(':
    case ')':
    case '[':
    case ']':
    case '{':
    case '}':
    case '|':
      return true;
    default:
      return false;
  }
}

// Escapes that stand for one character, "\b" only inside brackets.
char escaped_char(char c, bool* found) {
  static constexpr char kTable[][2] = {{'0', '\0'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                       {'r', '\r'}, {'t', '\t'}, {'v', '\v'}};
  for (const auto& entry : kTable) {
    if (entry[0] == c) {
      *found = true;
      return entry[1];
    }
  }
  *found = false;
  return 0;
}

}  // namespace

Scanner::Scanner(const std::string& pattern, const std::locale& locale)
    : pattern_(pattern), ctype_(std::use_facet<std::ctype<char>>(locale)) {
  advance();
}

void Scanner::advance() {
  if (at_ == pattern_.size()) {
    token_ = Token::End;
    return;
  }
  switch (mode_) {
    case Mode::Normal:
      scan_normal();
      break;
    case Mode::InBracket:
      scan_in_bracket();
      break;
    case Mode::InBrace:
      scan_in_brace();
      break;
  }
}

void Scanner::scan_normal() {
  const char c = pattern_[at_++];
  if (c != '\0' && !is_special(ctype_.narrow(c, ' '))) {
    token_ = Token::OrdinaryChar;
    char_ = c;
    return;
  }
  switch (c) {
    case '\\':
      if (at_ == pattern_.size()) {
        fail(std::regex_constants::error_escape);
      }
      eat_escape();
      return;
    case '(':
      if (at_ < pattern_.size() && pattern_[at_] == '?') {
        if (++at_ == pattern_.size()) {
          fail(std::regex_constants::error_paren);
        }
        const char kind = pattern_[at_++];
        if (kind == ':') {
          token_ = Token::NonCapturingBegin;
        } else if (kind == '=' || kind == '!') {
          token_ = Token::LookaheadBegin;
          value_.assign(1, kind == '=' ? 'p' : 'n');
        } else {
          fail(std::regex_constants::error_paren);
        }
      } else {
        token_ = Token::GroupBegin;
      }
      return;
    case ')':
      token_ = Token::GroupEnd;
      return;
    case '[':
      mode_ = Mode::InBracket;
      if (at_ < pattern_.size() && pattern_[at_] == '^') {
        token_ = Token::BracketNegBegin;
        ++at_;
      } else {
        token_ = Token::BracketBegin;
      }
      return;
    case '{':
      mode_ = Mode::InBrace;
      token_ = Token::IntervalBegin;
      return;
    case ']':
    case '}':
    case '\0':
      token_ = Token::OrdinaryChar;
      char_ = c;
      return;
    case '^':
      token_ = Token::LineBegin;
      return;
    case '$':
      token_ = Token::LineEnd;
      return;
    case '.':
      token_ = Token::AnyChar;
      return;
    case '*':
      token_ = Token::Star;
      return;
    case '+':
      token_ = Token::Plus;
      return;
    case '?':
      token_ = Token::Question;
      return;
    default:  // '|'
      token_ = Token::Or;
      return;
  }
}

void Scanner::scan_in_bracket() {
  const char c = pattern_[at_++];
  if (c == '-') {
    token_ = Token::BracketDash;
  } else if (c == '[') {
    if (at_ == pattern_.size()) {
      fail(std::regex_constants::error_brack);
    }
    const char kind = pattern_[at_];
    if (kind == '.' || kind == ':' || kind == '=') {
      token_ = kind == '.'   ? Token::CollatingSymbol
               : kind == ':' ? Token::CharClassName
                             : Token::EquivalenceClassName;
      ++at_;
      eat_class(kind);
    } else {
      token_ = Token::OrdinaryChar;
      char_ = c;
    }
  } else if (c == ']') {
    token_ = Token::BracketEnd;
    mode_ = Mode::Normal;
  } else if (c == '\\') {
    if (at_ == pattern_.size()) {
      fail(std::regex_constants::error_escape);
    }
    eat_escape();
  } else {
    token_ = Token::OrdinaryChar;
    char_ = c;
  }
}

void Scanner::scan_in_brace() {
  const char c = pattern_[at_++];
  if (is(std::ctype_base::digit, c)) {
    token_ = Token::DupCount;
    value_.assign(1, c);
    while (at_ < pattern_.size() && is(std::ctype_base::digit, pattern_[at_])) {
      value_ += pattern_[at_++];
    }
  } else if (c == ',') {
    token_ = Token::Comma;
  } else if (c == '}') {
    mode_ = Mode::Normal;
    token_ = Token::IntervalEnd;
  } else {
    fail(std::regex_constants::error_badbrace);
  }
}

void Scanner::eat_escape() {
  const char c = pattern_[at_++];
  bool found = false;
  const char plain = escaped_char(ctype_.narrow(c, '\0'), &found);
  if (found && (c != 'b' || mode_ == Mode::InBracket)) {
    token_ = Token::OrdinaryChar;
    char_ = plain;
  } else if (c == 'b' || c == 'B') {
    token_ = Token::WordBoundary;
    value_.assign(1, c == 'b' ? 'p' : 'n');
  } else if (c == 'd' || c == 'D' || c == 's' || c == 'S' || c == 'w' || c == 'W') {
    token_ = Token::QuotedClass;
    value_.assign(1, c);
  } else if (c == 'c') {
    if (at_ == pattern_.size()) {
      fail(std::regex_constants::error_escape);
    }
    token_ = Token::OrdinaryChar;
    char_ = pattern_[at_++];
  } else if (c == 'x' || c == 'u') {
    value_.clear();
    const int digits = c == 'x' ? 2 : 4;
    for (int i = 0; i < digits; ++i) {
      if (at_ == pattern_.size() || !is(std::ctype_base::xdigit, pattern_[at_])) {
        fail(std::regex_constants::error_escape);
      }
      value_ += pattern_[at_++];
    }
    token_ = Token::HexNumber;
  } else if (is(std::ctype_base::digit, c)) {
    value_.assign(1, c);
    while (at_ < pattern_.size() && is(std::ctype_base::digit, pattern_[at_])) {
      value_ += pattern_[at_++];
    }
    token_ = Token::Backref;
  } else {
    token_ = Token::OrdinaryChar;
    char_ = c;
  }
}

void Scanner::eat_class(char delimiter) {
  value_.clear();
  while (at_ < pattern_.size() && pattern_[at_] != delimiter) {
    value_ += pattern_[at_++];
  }
  if (at_ == pattern_.size() || pattern_[at_++] != delimiter || at_ == pattern_.size() ||
      pattern_[at_++] != ']') {
    fail(delimiter == ':' ? std::regex_constants::error_ctype
                          : std::regex_constants::error_collate);
  }
}

}  // namespace pattern
}  // namespace astsieve
