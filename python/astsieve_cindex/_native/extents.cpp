#include "extents.h"

#include <algorithm>
#include <tuple>

#include "bindings.h"
#include "cursor_kinds.h"
#include "record_api.h"
#include "spellings.h"
#include "walk/cursor.h"

namespace astsieve_cindex {
namespace {

namespace lc = astsieve::libclang;
using namespace cursor_kind;

bool is_container(std::int32_t kind) {
  return kind == kNamespace || kind == kLinkageSpec || kind == kUnexposedDecl;
}

bool is_declaration(std::int32_t kind) {
  return kind == kMacroDefinition ||
         (!is_container(kind) && record_api::functions().isDeclaration(kind) != 0);
}

struct Collection {
  astsieve::FileFilter& filter;
  const Files& files;
  Extents& extents;
  const Names& names;
  astsieve::FileVerdict verdict;
};

void add_declaration(const lc::Cursor& cursor, const lc::Cursor& parent, Collection& collection,
                     const std::string& prefix) {
  const std::int64_t file = collection.files.find(collection.verdict.path);
  if (file < 0) {
    return;  // no node lies in its file, so none lies in it
  }
  const record_api::Functions& api = record_api::functions();
  const record_api::SourceRange range = api.getCursorExtent(cursor);
  const std::string name = collection.names.qualified(cursor, parent, prefix);
  collection.extents.add(static_cast<std::size_t>(file),
                         expansion_position(api.getRangeStart(range)),
                         expansion_position(api.getRangeEnd(range)), kind_name(cursor.kind),
                         Ref(decoded(name.data(), name.size())));
}

// The top-level declarations among the children of `parent` in accepted
// files, looking through namespaces (whose names go into `prefix`) and
// `extern "C"` blocks.
void collect(const lc::Cursor& parent, Collection& collection, std::string& prefix) {
  const std::vector<lc::Cursor> children = astsieve::collect_children(parent);
  for (const lc::Cursor& child : children) {
    collection.filter.classify(child, collection.verdict);
    if (collection.verdict.kind != astsieve::FileVerdict::Accepted) {
      continue;
    }
    if (is_container(child.kind)) {
      const std::size_t outer = prefix.size();
      if (child.kind == kNamespace) {
        collection.names.append_own(child, prefix);
        prefix += "::";
      }
      collect(child, collection, prefix);
      prefix.resize(outer);
    } else if (is_declaration(child.kind)) {
      add_declaration(child, parent, collection, prefix);
    }
  }
}

}  // namespace

Position expansion_position(const lc::SourceLocation& location) {
  unsigned line = 0;
  unsigned column = 0;
  lc::functions().getInstantiationLocation(location, nullptr, &line, &column, nullptr);
  return {line, column};
}

Extents::~Extents() {
  for (std::vector<Extent>& extents : by_file_) {
    for (Extent& extent : extents) {
      Py_XDECREF(extent.name);
    }
  }
}

void Extents::add(std::size_t file, Position start, Position end, PyObject* kind, Ref name) {
  by_file_[file].push_back(Extent{start, end, kind, nullptr, -1});
  by_file_[file].back().name = name.release();
}

void Extents::sort() {
  for (std::size_t file = 0; file < by_file_.size(); ++file) {
    std::vector<Extent>& extents = by_file_[file];
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) {
      if (a.start != b.start || a.end != b.end) {
        return std::tie(a.start, a.end) < std::tie(b.start, b.end);
      }
      const int kinds = PyUnicode_Compare(a.kind, b.kind);  // str and str: cannot fail
      return kinds != 0 ? kinds < 0 : PyUnicode_Compare(a.name, b.name) < 0;
    });
    // The furthest end among an extent and those before it: no extent
    // before one whose reach ends ahead of a position can hold it.
    std::vector<Position>& reach = reach_[file];
    reach.resize(extents.size());
    Position furthest{0, 0};
    for (std::size_t i = 0; i < extents.size(); ++i) {
      furthest = std::max(furthest, extents[i].end);
      reach[i] = furthest;
    }
  }
}

Extent* Extents::at(std::size_t file, Position position) {
  std::vector<Extent>& extents = by_file_[file];
  const std::vector<Position>& reach = reach_[file];
  auto index = std::upper_bound(extents.begin(), extents.end(), position,
                                [](const Position& p, const Extent& e) { return p < e.start; }) -
               extents.begin() - 1;
  for (; index >= 0 && reach[static_cast<std::size_t>(index)] >= position; --index) {
    Extent& extent = extents[static_cast<std::size_t>(index)];
    if (extent.end >= position) {
      return &extent;
    }
  }
  return nullptr;
}

void collect_declarations(const lc::Cursor& unit, astsieve::FileFilter& filter, const Files& files,
                          const Names& names, Extents& extents) {
  Collection collection{filter, files, extents, names, {}};
  std::string prefix;
  collect(unit, collection, prefix);
}

}  // namespace astsieve_cindex
