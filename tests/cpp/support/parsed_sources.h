// Real libclang on real files: a temporary folder of sources written by a
// test, translation units parsed from it, and results read back as text.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "libclang/real.h"
#include "walk/grouping.h"

namespace astsieve::testing {

// A fresh folder below the system's temporary folder, removed with all its
// contents when the object goes.
class SourceFolder {
 public:
  SourceFolder();
  ~SourceFolder();
  SourceFolder(const SourceFolder&) = delete;
  SourceFolder& operator=(const SourceFolder&) = delete;

  // Writes `text` to `relative` (creating folders) and returns the full path.
  std::string write(const std::string& relative, const std::string& text) const;
  std::string path(const std::string& relative) const;

 private:
  std::string root_;
};

// Makes a folder the working folder for as long as the object lives.
class WorkingFolder {
 public:
  explicit WorkingFolder(const std::string& folder);
  ~WorkingFolder();
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;

 private:
  std::string previous_;
};

// A translation unit parsed from a file on disk, disposed of with the object.
class ParsedUnit {
 public:
  explicit ParsedUnit(const std::string& file, const std::vector<std::string>& arguments = {});
  ~ParsedUnit();
  ParsedUnit(const ParsedUnit&) = delete;
  ParsedUnit& operator=(const ParsedUnit&) = delete;

  std::uint64_t handle() const;
  CXCursor cursor() const;
  // The first cursor below the unit, in pre-order, with this spelling.
  CXCursor find(const std::string& spelling) const;

 private:
  CXIndex index_ = nullptr;
  CXTranslationUnit unit_ = nullptr;
};

// Cursors as "Kind spelling" texts, for readable expectations.
using Texts = std::vector<std::string>;
using TextsByLine = std::map<std::int64_t, Texts>;
using TextsByPathAndLine = std::map<std::string, TextsByLine>;
using TextsByPath = std::map<std::string, Texts>;

std::string describe(const CursorTuple& cursor);
TextsByPathAndLine describe(const PathToLinenoToNodes& result);
TextsByPath describe(const PathToNodes& result);

}  // namespace astsieve::testing
