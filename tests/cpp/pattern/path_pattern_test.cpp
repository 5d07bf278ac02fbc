// PathPattern against std::regex on the shapes with shortcuts, on the
// standard library's quirks, on its error codes and on its locale handling.
#include "pattern/path_pattern.h"

#include <gtest/gtest.h>

#include <locale>
#include <regex>
#include <string>
#include <vector>

#include "oracle.h"

namespace astsieve {
namespace {

using testing::escaped;

void expect_same_as_std_regex(const std::string& pattern,
                              const std::vector<std::string>& subjects) {
  const PathPattern mine(pattern);
  const std::regex theirs(pattern, std::regex::ECMAScript);
  for (const std::string& subject : subjects) {
    EXPECT_EQ(mine.full_match(subject), std::regex_match(subject, theirs))
        << "pattern '" << escaped(pattern) << "' subject '" << escaped(subject) << "'";
  }
}

const std::vector<std::string> kPaths = {
    "",
    "/usr/include/stdio.h",
    "/usr/include/c++/12/vector",
    "/usr/lib/llvm-14/include/llvm/ADT/APInt.h",
    "/usr/lib/llvm-14/include/clang/AST/Decl.hpp",
    "include",
    "includ",
    "/usr/include/",
    "/usr/include",
    "a.h",
    ".h",
    "h",
    "x.hh",
    "/usr/include/bad\nname.h",
    "/usr/include/bad\rname.h",
    "\n",
    "/opt/\xe9t\xe9/include/\xff.h",
    "include/include",
    "aba",
    "abba",
    "ab",
};

TEST(PathPatternShapes, GlobShapesAgreeWithStdRegex) {
  for (const char* pattern : {"include",
                              ".*include.*",
                              "/usr/include/.*",
                              ".*\\.h",
                              ".*",
                              ".*.*",
                              ".*?",
                              "",
                              "/usr/include/.*\\.h",
                              ".*/include/.*/.*\\.h",
                              ".*include.*?include.*",
                              "ab.*ba",
                              "a.*b.*a",
                              ".*?\\.h",
                              "[.]*",
                              "(.*)",
                              "(?:.*)include(.*)",
                              "[^\\n\\r]*",
                              ".*\\n.*",
                              "/usr/include/\\n.*",
                              "(?:/usr)(/include)/.*",
                              "[/]usr.*",
                              ".*[h]",
                              "\\/usr\\/.*"}) {
    expect_same_as_std_regex(pattern, kPaths);
  }
}

TEST(PathPatternShapes, GeneralPatternsAgreeWithStdRegex) {
  for (const char* pattern :
       {".*/(llvm|clang)/.*\\.(h|hpp|def|inc)", ".+\\.h", ".*include.+", "(/[^/]+)+\\.h",
        ".*/(?!llvm/)[^/]+/[^/]*\\.h", "/usr/(include|lib)/.*", ".*\\b(stdio|APInt)\\.h",
        "(.*/)?[a-z]+\\.h", "^/usr/.*$", ".*(include).*\\1.*", "[[:alpha:]/.-]*"}) {
    expect_same_as_std_regex(pattern, kPaths);
  }
}

// Patterns whose deterministic automaton would be too large are answered by
// the backtracker, with the same answers.
TEST(PathPatternShapes, LargeAutomataAgreeWithStdRegex) {
  std::vector<std::string> subjects;
  for (unsigned bits = 0; bits < 1u << 15; bits += 97) {
    std::string subject;
    for (unsigned i = 0; i < 15; ++i) {
      subject += (bits >> i) & 1 ? 'a' : 'b';
    }
    subjects.push_back(subject);
  }
  expect_same_as_std_regex("(a|b)*a(a|b){12}", subjects);
  expect_same_as_std_regex("(?:[ab]*a[ab]{11}|b{3,})$", subjects);
}

// What the standard library does, odd or not, the matcher does too.
TEST(PathPatternShapes, StandardLibraryQuirksAreKept) {
  const struct {
    const char* pattern;
    const char* subject;
    bool matches;
  } kCases[] = {
      {"\\cJ", "J", true},             // \c takes the next byte as it is
      {"\\u0141", "A", true},          // \uHHHH keeps the low byte
      {"[]a", "a", false},             // [] is empty
      {"[^]", "\n", true},             // [^] takes every byte
      {"a(?=^b)b", "ab", true},        // ^ holds where a lookahead starts
      {"a(?=\\bb)b", "ab", true},      // and \b sees no byte before it there
      {".", "\r", false},              // '.' takes neither line end
      {".", "\x85", true},             // but any other byte
      {"[\\b]", "\b", true},           // \b in brackets is a backspace
      {"(a)|b\\1", "b", false},        // a back-reference to an unmatched group fails
      {"(?:(a)|b)+\\1", "aba", true},  // captures are not reset per round
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(PathPattern(c.pattern).full_match(c.subject), c.matches) << c.pattern;
    expect_same_as_std_regex(c.pattern, {c.subject});
  }
  // The embedded NUL: a std::string subject, not a C string.
  EXPECT_TRUE(PathPattern(std::string("\\0", 2)).full_match(std::string(1, '\0')));
}

TEST(PathPatternShapes, MatchesWholePathOnly) {
  EXPECT_FALSE(PathPattern("include").full_match("/usr/include/stdio.h"));
  EXPECT_TRUE(PathPattern(".*include.*").full_match("/usr/include/stdio.h"));
  EXPECT_FALSE(PathPattern("/usr").full_match("/usr/include"));
  EXPECT_FALSE(PathPattern("stdio\\.h").full_match("/usr/include/stdio.h"));
}

std::regex_error std_regex_error(const std::string& pattern) {
  try {
    std::regex checked(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error& error) {
    return error;
  }
  ADD_FAILURE() << "std::regex took '" << pattern << "'";
  return std::regex_error(std::regex_constants::error_type{});
}

// Patterns with as many states as the standard library allows are taken,
// though the matcher's parser leaves the decision to it there.
TEST(PathPatternErrors, PatternsAtTheStateLimitAreTaken) {
  EXPECT_NO_THROW(std::regex("a{99993}", std::regex::ECMAScript));
  const PathPattern at_limit("a{99993}");
  const std::string letters(99'993, 'a');
  EXPECT_TRUE(at_limit.full_match(letters));
  EXPECT_FALSE(at_limit.full_match(letters + "a"));
}

TEST(PathPatternErrors, InvalidPatternsFailWithTheStandardLibrarysCode) {
  const struct {
    const char* pattern;
    std::regex_constants::error_type code;
  } kCases[] = {
      {"(", std::regex_constants::error_paren},
      {"a)", std::regex_constants::error_paren},
      {"(?<a)", std::regex_constants::error_paren},
      {"[a", std::regex_constants::error_brack},
      {"[\\B]", std::regex_constants::error_brack},
      {"a{2,1}", std::regex_constants::error_badbrace},
      {"a{x}", std::regex_constants::error_badbrace},
      {"a{2", std::regex_constants::error_brace},
      {"\\", std::regex_constants::error_escape},
      {"\\x4", std::regex_constants::error_escape},
      {"[b-a]", std::regex_constants::error_range},
      {"[\\w-z]", std::regex_constants::error_range},
      {"\\1", std::regex_constants::error_backref},
      {"(a\\1)", std::regex_constants::error_backref},
      {"[[:nope:]]", std::regex_constants::error_collate},
      {"[[:alpha:", std::regex_constants::error_ctype},
      {"[[.nope.]]", std::regex_constants::error_collate},
      {"*a", std::regex_constants::error_paren},
      {"a**{1000}{1000}", std::regex_constants::error_space},
      // The first count at which the standard library runs out of states.
      {"a{99994}", std::regex_constants::error_space},
  };
  for (const auto& c : kCases) {
    const std::regex_error expected = std_regex_error(c.pattern);
    ASSERT_EQ(expected.code(), c.code) << c.pattern;
    try {
      PathPattern pattern(c.pattern);
      ADD_FAILURE() << "accepted '" << c.pattern << "'";
    } catch (const std::regex_error& error) {
      EXPECT_EQ(error.code(), c.code) << c.pattern;
      EXPECT_STREQ(error.what(), expected.what()) << c.pattern;
    }
  }
}

// A ctype facet under which 0xe9 is a lower-case letter and '#' a space.
class LatinCtype : public std::ctype<char> {
 public:
  LatinCtype() : std::ctype<char>(table()) {}

 private:
  static const mask* table() {
    static mask custom[table_size];
    std::copy(classic_table(), classic_table() + table_size, custom);
    custom[0xe9] = static_cast<mask>(alpha | lower | print | graph);
    custom[static_cast<unsigned char>('#')] = static_cast<mask>(space | print);
    return custom;
  }
};

class GlobalLocale {
 public:
  explicit GlobalLocale(const std::locale& locale) : previous_(std::locale::global(locale)) {}
  ~GlobalLocale() { std::locale::global(previous_); }

 private:
  std::locale previous_;
};

TEST(PathPatternLocale, ClassesFollowTheGlobalLocaleWhenCompiled) {
  const std::vector<std::string> patterns = {"[[:alpha:]]",  "\\w",          "\\W",   "\\s",
                                             "[[:space:]x]", "[^[:lower:]]", "[\\S]", "\\b.",
                                             "[[=a=]]",      "[[:alnum:]_]"};
  std::vector<std::string> bytes;
  for (unsigned byte = 0; byte < 256; ++byte) {
    bytes.emplace_back(1, static_cast<char>(byte));
  }
  std::vector<PathPattern> compiled_under_latin;
  {
    const GlobalLocale latin(std::locale(std::locale::classic(), new LatinCtype));
    for (const std::string& pattern : patterns) {
      expect_same_as_std_regex(pattern, bytes);
      compiled_under_latin.emplace_back(pattern);
    }
    EXPECT_TRUE(PathPattern("\\w+").full_match("caf\xe9"));
    EXPECT_TRUE(PathPattern("a\\sb").full_match("a#b"));
  }
  // Back in the classic locale: new patterns see the classic classes, the
  // ones compiled before keep theirs.
  EXPECT_FALSE(PathPattern("\\w+").full_match("caf\xe9"));
  EXPECT_TRUE(compiled_under_latin[1].full_match("\xe9"));
  EXPECT_TRUE(compiled_under_latin[3].full_match("#"));
  for (const std::string& pattern : patterns) {
    expect_same_as_std_regex(pattern, bytes);
  }
}

TEST(PathPatternLongSubjects, LongPathsNeitherCrashNorStall) {
  const std::string long_path = "/" + std::string(50'000, 'x') + "/include/" + "y.h";
  EXPECT_TRUE(PathPattern(".*include.*").full_match(long_path));
  EXPECT_TRUE(PathPattern(".*/(llvm|include)/.*\\.(h|hpp)").full_match(long_path));
  EXPECT_TRUE(PathPattern("(/[^/]+)+\\.h").full_match(long_path));
  EXPECT_FALSE(PathPattern("(/[^/]+)+\\.c").full_match(long_path));
  EXPECT_TRUE(PathPattern("(x)\\1*").full_match(std::string(100'000, 'x')));
  const std::string letters(50'000, 'a');
  EXPECT_FALSE(PathPattern("(a*)*b").full_match(letters));
  EXPECT_TRUE(PathPattern("(a*)*b").full_match(letters + "b"));
  EXPECT_FALSE(PathPattern("(a|aa)+(?=a)b").full_match(letters));
}

}  // namespace
}  // namespace astsieve
