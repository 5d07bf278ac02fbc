#include "parsed_sources.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace astsieve::testing {
namespace {

std::string take(CXString string) {
  const char* text = clang_getCString(string);
  std::string copy = text != nullptr ? text : "";
  clang_disposeString(string);
  return copy;
}

}  // namespace

SourceFolder::SourceFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "astsieve-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder");
  }
  root_ = pattern;
}

SourceFolder::~SourceFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string SourceFolder::path(const std::string& relative) const { return root_ + "/" + relative; }

std::string SourceFolder::write(const std::string& relative, const std::string& text) const {
  const std::filesystem::path file = path(relative);
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

WorkingFolder::WorkingFolder(const std::string& folder)
    : previous_(std::filesystem::current_path().string()) {
  std::filesystem::current_path(folder);
}

WorkingFolder::~WorkingFolder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

ParsedUnit::ParsedUnit(const std::string& file, const std::vector<std::string>& arguments)
    : index_(clang_createIndex(0, 0)) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  const CXErrorCode error =
      clang_parseTranslationUnit2(index_, file.c_str(), argv.data(), static_cast<int>(argv.size()),
                                  nullptr, 0, CXTranslationUnit_None, &unit_);
  if (error != CXError_Success) {
    clang_disposeIndex(index_);
    throw std::runtime_error("libclang cannot parse " + file);
  }
}

ParsedUnit::~ParsedUnit() {
  clang_disposeTranslationUnit(unit_);
  clang_disposeIndex(index_);
}

std::uint64_t ParsedUnit::handle() const { return reinterpret_cast<std::uintptr_t>(unit_); }

CXCursor ParsedUnit::cursor() const { return clang_getTranslationUnitCursor(unit_); }

CXCursor ParsedUnit::find(const std::string& spelling) const {
  struct Search {
    const std::string& spelling;
    CXCursor found;
  } search{spelling, clang_getNullCursor()};
  clang_visitChildren(
      cursor(),
      [](CXCursor child, CXCursor, CXClientData data) {
        auto* s = static_cast<Search*>(data);
        if (take(clang_getCursorSpelling(child)) == s->spelling) {
          s->found = child;
          return CXChildVisit_Break;
        }
        return CXChildVisit_Recurse;
      },
      &search);
  if (clang_Cursor_isNull(search.found) != 0) {
    throw std::runtime_error("no cursor spelled " + spelling);
  }
  return search.found;
}

std::string describe(const CursorTuple& tuple) {
  const CXCursor cursor = libclang::to_real(from_cursor_tuple(tuple));
  return take(clang_getCursorKindSpelling(clang_getCursorKind(cursor))) + " " +
         take(clang_getCursorSpelling(cursor));
}

namespace {

Texts describe_all(const NodeList& nodes) {
  Texts texts;
  for (const CursorTuple& node : nodes) {
    texts.push_back(describe(node));
  }
  return texts;
}

}  // namespace

TextsByPathAndLine describe(const PathToLinenoToNodes& result) {
  TextsByPathAndLine texts;
  for (const auto& [path, lines] : result) {
    TextsByLine& by_line = texts[path];
    for (const auto& [line, nodes] : lines) {
      by_line[line] = describe_all(nodes);
    }
  }
  return texts;
}

TextsByPath describe(const PathToNodes& result) {
  TextsByPath texts;
  for (const auto& [path, nodes] : result) {
    texts[path] = describe_all(nodes);
  }
  return texts;
}

}  // namespace astsieve::testing
