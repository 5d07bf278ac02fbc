#include "records.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <new>
#include <numeric>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "arguments.h"
#include "record_api.h"
#include "walk/cursor.h"
#include "walk/file_filter.h"
#include "walk/unit_walk.h"

namespace astsieve_cindex {
namespace {

namespace lc = astsieve::libclang;

// libclang's CXCursorKind values of the kinds the records single out.
// Namespaces and `extern "C"` blocks (libclang 14 reports those as
// unexposed declarations) hold top-level declarations rather than being one.
constexpr std::int32_t kUnexposedDecl = 1;
constexpr std::int32_t kStructDecl = 2;
constexpr std::int32_t kUnionDecl = 3;
constexpr std::int32_t kClassDecl = 4;
constexpr std::int32_t kEnumDecl = 5;
constexpr std::int32_t kNamespace = 22;
constexpr std::int32_t kLinkageSpec = 23;
constexpr std::int32_t kMacroDefinition = 501;
constexpr const char* kAnonymousNamespace = "(anonymous namespace)";
// Scopes above a declaration followed for its name; deeper ones are left out
// rather than followed without end.
constexpr int kMaxScopes = 256;
// Kind ids are small (below 1000 in every libclang); a larger one in the
// names is refused rather than sized for.
constexpr long kMaxKindId = 1 << 16;

struct RecordTypes {
  PyObject* node_type = nullptr;
  PyObject* declaration_type = nullptr;
  // By kind id; nullptr where the bindings name none.
  std::vector<PyObject*> kind_names;
  // KIND_<id>, made once for each kind the bindings do not name.
  std::unordered_map<std::int32_t, PyObject*> other_kind_names;
};

RecordTypes& record_types() {
  static RecordTypes types;
  return types;
}

PyObject* checked(PyObject* object) {
  if (object == nullptr) {
    throw PythonError{};
  }
  return object;
}

// The name of a kind as clang.cindex spells it (borrowed).
PyObject* kind_name(std::int32_t kind) {
  RecordTypes& types = record_types();
  if (kind >= 0 && static_cast<std::size_t>(kind) < types.kind_names.size() &&
      types.kind_names[static_cast<std::size_t>(kind)] != nullptr) {
    return types.kind_names[static_cast<std::size_t>(kind)];
  }
  const auto found = types.other_kind_names.find(kind);
  if (found != types.other_kind_names.end()) {
    return found->second;
  }
  Ref name(checked(PyUnicode_FromFormat("KIND_%d", static_cast<int>(kind))));
  types.other_kind_names.emplace(kind, name.get());
  return name.release();
}

// libclang's bytes as str. A file name or spelling that is not valid UTF-8
// is decoded with surrogateescape, as Python's os functions decode file
// names: no name fails the records, and os.fsencode gives the bytes back.
PyObject* decoded(const char* text, std::size_t size) {
  return checked(PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(size), "surrogateescape"));
}

// Calls use(text, size) with the text of a string libclang made, and
// disposes of the string whatever happens; a null string reads as empty.
template <typename Use>
void with_text(lc::String string, Use use) {
  const lc::Functions& api = lc::functions();
  struct Disposer {
    const lc::Functions& api;
    lc::String string;
    ~Disposer() { api.disposeString(string); }
  } disposer{api, string};
  const char* text = api.getCString(string);
  use(text != nullptr ? text : "", text != nullptr ? std::strlen(text) : 0);
}

// The spellings of a walk, each text made into one str: most recur (type
// names, callees, operators), and a shared str costs no memory, nor any
// pickling, a second time.
class Spellings {
 public:
  Spellings() = default;
  Spellings(const Spellings&) = delete;
  Spellings& operator=(const Spellings&) = delete;
  ~Spellings() {
    for (const auto& entry : known_) {
      Py_DECREF(entry.second);
    }
  }

  PyObject* of(const lc::Cursor& cursor) {  // a new reference
    Ref spelling;
    with_text(record_api::functions().getCursorSpelling(cursor),
              [this, &spelling](const char* text, std::size_t size) {
                const auto found = known_.find(std::string_view(text, size));
                if (found != known_.end()) {
                  Py_INCREF(found->second);
                  spelling = Ref(found->second);
                  return;
                }
                spelling = Ref(decoded(text, size));
                // The key is the str's own UTF-8, alive as long as the str;
                // a str holding escaped bytes has none and is not shared.
                Py_ssize_t length = 0;
                const char* own = PyUnicode_AsUTF8AndSize(spelling.get(), &length);
                if (own == nullptr) {
                  PyErr_Clear();
                  return;
                }
                known_.emplace(std::string_view(own, static_cast<std::size_t>(length)),
                               spelling.get());
                Py_INCREF(spelling.get());
              });
    return spelling.release();
  }

 private:
  std::unordered_map<std::string_view, PyObject*> known_;
};

// (line, column)
using Position = std::pair<std::int64_t, std::int64_t>;

Position expansion_position(const lc::SourceLocation& location) {
  unsigned line = 0;
  unsigned column = 0;
  lc::functions().getInstantiationLocation(location, nullptr, &line, &column, nullptr);
  return {line, column};
}

// The keyword of a struct, union, class or enum declaration; nullptr for
// other kinds.
const char* tag_keyword(std::int32_t kind) {
  switch (kind) {
    case kStructDecl:
      return "struct";
    case kUnionDecl:
      return "union";
    case kClassDecl:
      return "class";
    case kEnumDecl:
      return "enum";
    default:
      return nullptr;
  }
}

bool is_identifier(std::string_view text) {
  if (text.empty() || (text[0] >= '0' && text[0] <= '9')) {
    return false;
  }
  return std::all_of(text.begin(), text.end(), [](char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// The names of declarations as the records give them: qualified by the
// scopes around them (namespaces and classes, through the semantic parent,
// so that an out-of-line definition names its class), an anonymous type as
// `(anonymous struct at FILE:LINE)` with FILE as the records name files.
class Names {
 public:
  explicit Names(std::string directory) : directory_(std::move(directory)) {}

  // The name of a top-level declaration whose lexical parent, `parent`, is
  // named by `prefix` (ending in "::" unless empty).
  std::string qualified(const lc::Cursor& cursor, const lc::Cursor& parent,
                        const std::string& prefix) const {
    const record_api::Functions& api = record_api::functions();
    const lc::Cursor scope = api.getCursorSemanticParent(cursor);
    std::string name;
    if (lc::functions().Cursor_isNull(scope) != 0 || api.equalCursors(scope, parent) != 0) {
      name = prefix;
    } else {
      append_scopes(scope, name, 0);
    }
    append_own(cursor, name);
    return name;
  }

  // A declaration's own name; a namespace's too.
  void append_own(const lc::Cursor& cursor, std::string& name) const {
    const record_api::Functions& api = record_api::functions();
    std::string spelling;
    with_text(api.getCursorSpelling(cursor),
              [&spelling](const char* text, std::size_t size) { spelling.assign(text, size); });
    if (cursor.kind == kNamespace) {
      name += spelling.empty() ? kAnonymousNamespace : spelling;
      return;
    }
    const char* keyword = tag_keyword(cursor.kind);
    if (keyword == nullptr) {
      name += spelling;
      return;
    }
    // libclang 16 on spells an anonymous type `(unnamed struct at /abs/x.h:3:9)`
    // or `struct (unnamed at ...)`, earlier ones "". A type named by a typedef
    // (`typedef struct {...} t;`) takes that name, which libclang before 16
    // gives only as the type's spelling (`ns::t`).
    if (api.Cursor_isAnonymous(cursor) == 0) {
      if (spelling.empty()) {
        with_text(api.getTypeSpelling(api.getCursorType(cursor)),
                  [&spelling](const char* text, std::size_t size) {
                    const std::string_view type(text, size);
                    const std::size_t scope = type.rfind("::");
                    const std::string_view last =
                        scope == std::string_view::npos ? type : type.substr(scope + 2);
                    if (is_identifier(last)) {
                      spelling.assign(last.data(), last.size());
                    }
                  });
      }
      if (!spelling.empty()) {
        name += spelling;
        return;
      }
    }
    append_anonymous(cursor, keyword, name);
  }

 private:
  void append_scopes(const lc::Cursor& scope, std::string& name, int depth) const {
    const record_api::Functions& api = record_api::functions();
    if (depth >= kMaxScopes || lc::functions().Cursor_isNull(scope) != 0 ||
        api.isTranslationUnit(scope.kind) != 0) {
      return;
    }
    append_scopes(api.getCursorSemanticParent(scope), name, depth + 1);
    if (scope.kind != kLinkageSpec && scope.kind != kUnexposedDecl) {  // extern "C"
      append_own(scope, name);
      name += "::";
    }
  }

  void append_anonymous(const lc::Cursor& cursor, const char* keyword, std::string& name) const {
    const lc::Functions& api = lc::functions();
    lc::File file = nullptr;
    unsigned line = 0;
    api.getInstantiationLocation(api.getCursorLocation(cursor), &file, &line, nullptr, nullptr);
    name += "(anonymous ";
    name += keyword;
    std::string path;
    if (file != nullptr) {
      with_text(api.getFileName(file),
                [&path](const char* text, std::size_t size) { path.assign(text, size); });
    }
    if (!path.empty()) {
      name += " at ";
      // As os.path.join(directory, path) joins them.
      if (path[0] != '/' && !directory_.empty()) {
        name += directory_;
        if (directory_.back() != '/') {
          name += '/';
        }
      }
      name += path;
      name += ':';
      name += std::to_string(line);
    }
    name += ')';
  }

  std::string directory_;
};

// The files of the nodes by their names as libclang reports them, numbered
// in order of first sight.
class Files {
 public:
  std::uint32_t index_of(const std::string& path) {
    if (last_ < paths_.size() && paths_[last_] == path) {
      return last_;
    }
    const auto entry = index_.try_emplace(path, static_cast<std::uint32_t>(paths_.size())).first;
    if (entry->second == paths_.size()) {
      paths_.push_back(path);
    }
    last_ = entry->second;
    return last_;
  }

  // -1 for a file without nodes.
  std::int64_t find(const std::string& path) const {
    const auto entry = index_.find(path);
    return entry != index_.end() ? static_cast<std::int64_t>(entry->second) : -1;
  }

  const std::vector<std::string>& paths() const noexcept { return paths_; }

 private:
  std::vector<std::string> paths_;
  std::unordered_map<std::string, std::uint32_t> index_;
  std::uint32_t last_ = 0;
};

struct Row {
  std::uint32_t file;
  std::int64_t line;
  std::int64_t column;
  std::int32_t kind;
  PyObject* spelling;  // owned by Rows
};

struct Rows {
  std::vector<Row> list;
  Rows() = default;
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;
  ~Rows() {
    for (Row& row : list) {
      Py_XDECREF(row.spelling);
    }
  }
};

// One row per node of the walk, in walking order.
class RowSink final : public astsieve::NodeSink {
 public:
  RowSink(Files& files, Rows& rows) : files_(files), rows_(rows) {}

  void take(const lc::Cursor& node, const astsieve::FileVerdict& verdict) override {
    rows_.list.push_back(
        Row{files_.index_of(verdict.path), verdict.line, verdict.column, node.kind, nullptr});
    rows_.list.back().spelling = spellings_.of(node);
  }

 private:
  Files& files_;
  Rows& rows_;
  Spellings spellings_;
};

// A top-level declaration's extent, from its first to its last position.
struct Extent {
  Position start;
  Position end;
  PyObject* kind;    // borrowed from the kind names
  PyObject* name;    // owned by Extents
  Py_ssize_t index;  // in the table's declarations once a node lies in it, else -1
};

// The declarations' extents in each file; sorted, then looked up.
class Extents {
 public:
  explicit Extents(std::size_t files) : by_file_(files), reach_(files) {}
  Extents(const Extents&) = delete;
  Extents& operator=(const Extents&) = delete;
  ~Extents() {
    for (std::vector<Extent>& extents : by_file_) {
      for (Extent& extent : extents) {
        Py_XDECREF(extent.name);
      }
    }
  }

  void add(std::size_t file, Position start, Position end, PyObject* kind, Ref name) {
    by_file_[file].push_back(Extent{start, end, kind, nullptr, -1});
    by_file_[file].back().name = name.release();
  }

  // Orders each file's extents as the Declarations' tuples order: by start,
  // end, kind and name.
  void sort() {
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

  std::vector<Extent>& in_file(std::size_t file) { return by_file_[file]; }

  // Of the extents of `file` that hold `position`, the one that starts last
  // (extents overlap: `struct s {...} value;`, a `#define` inside a
  // function); nullptr if none does.
  Extent* at(std::size_t file, Position position) {
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

 private:
  std::vector<std::vector<Extent>> by_file_;
  std::vector<std::vector<Position>> reach_;
};

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

// An int made once for a run of equal values, as consecutive nodes mostly
// share a line and a declaration.
class LastInt {
 public:
  LastInt() = default;
  LastInt(const LastInt&) = delete;
  LastInt& operator=(const LastInt&) = delete;
  ~LastInt() { Py_XDECREF(object_); }

  PyObject* of(std::int64_t value) {  // borrowed
    if (object_ == nullptr || value != value_) {
      PyObject* made = checked(PyLong_FromLongLong(value));
      Py_XDECREF(object_);
      object_ = made;
      value_ = value;
    }
    return object_;
  }

 private:
  PyObject* object_ = nullptr;
  std::int64_t value_ = 0;
};

// An instance of the NamedTuple `type` holding `items` (borrowed), made as
// tuple.__new__(type, items) makes it: a NamedTuple's own __new__ runs
// Python code for each one.
PyObject* named_tuple(PyObject* type, std::initializer_list<PyObject*> items) {
  Ref values(checked(PyTuple_New(static_cast<Py_ssize_t>(items.size()))));
  Py_ssize_t i = 0;
  for (PyObject* item : items) {
    Py_INCREF(item);
    PyTuple_SET_ITEM(values.get(), i++, item);
  }
  const Ref arguments(checked(PyTuple_Pack(1, values.get())));
  return checked(
      PyTuple_Type.tp_new(reinterpret_cast<PyTypeObject*>(type), arguments.get(), nullptr));
}

// The table's files as str, each file's place among them, in record order:
// the main file first, then by path (as str compares).
class FileOrder {
 public:
  FileOrder(const std::vector<std::string>& paths, const std::string& main_path)
      : rank_(paths.size()) {
    Ref names(checked(PyTuple_New(static_cast<Py_ssize_t>(paths.size()))));
    for (std::size_t i = 0; i < paths.size(); ++i) {
      PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(i),
                       decoded(paths[i].data(), paths[i].size()));
    }
    std::vector<std::size_t> order(paths.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const bool a_main = paths[a] == main_path;
      const bool b_main = paths[b] == main_path;
      if (a_main != b_main) {
        return a_main;
      }
      return PyUnicode_Compare(PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(a)),
                               PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(b))) < 0;
    });
    files_ = Ref(checked(PyTuple_New(static_cast<Py_ssize_t>(paths.size()))));
    for (std::size_t place = 0; place < order.size(); ++place) {
      PyObject* name = PyTuple_GET_ITEM(names.get(), static_cast<Py_ssize_t>(order[place]));
      Py_INCREF(name);
      PyTuple_SET_ITEM(files_.get(), static_cast<Py_ssize_t>(place), name);
      rank_[order[place]] = static_cast<std::uint32_t>(place);
      order_.push_back(static_cast<std::uint32_t>(order[place]));
    }
  }

  std::uint32_t rank(std::uint32_t file) const { return rank_[file]; }
  // The file at `place` in record order.
  std::uint32_t at(std::size_t place) const { return order_[place]; }
  PyObject* files() { return files_.release(); }

 private:
  std::vector<std::uint32_t> rank_;
  std::vector<std::uint32_t> order_;
  Ref files_;
};

// The declarations, those that nodes lie in first, in order of first use;
// equal ones (`void f(int); void f(char);` on one line) once, as table_of
// has them.
class Declarations {
 public:
  Declarations() : list_(checked(PyList_New(0))), seen_(checked(PyDict_New())) {}

  Py_ssize_t index_of(Extent& extent, std::uint32_t file) {
    if (extent.index < 0) {
      const Ref place(checked(PyLong_FromUnsignedLong(file)));
      const Ref first_line(checked(PyLong_FromLongLong(extent.start.first)));
      const Ref last_line(checked(PyLong_FromLongLong(extent.end.first)));
      const Ref declaration(
          named_tuple(record_types().declaration_type,
                      {extent.kind, extent.name, place.get(), first_line.get(), last_line.get()}));
      PyObject* known = PyDict_GetItemWithError(seen_.get(), declaration.get());
      if (known != nullptr) {
        extent.index = PyLong_AsSsize_t(known);
      } else if (PyErr_Occurred()) {
        throw PythonError{};
      } else {
        const Py_ssize_t index = PyList_GET_SIZE(list_.get());
        const Ref number(checked(PyLong_FromSsize_t(index)));
        if (PyList_Append(list_.get(), declaration.get()) < 0 ||
            PyDict_SetItem(seen_.get(), declaration.get(), number.get()) < 0) {
          throw PythonError{};
        }
        extent.index = index;
      }
    }
    return extent.index;
  }

  PyObject* list() { return list_.release(); }

 private:
  Ref list_;
  Ref seen_;
};

// A range of lines that the preprocessor skipped (`#if 0` to `#endif`, both
// directives' lines included), in an accepted file.
struct Skipped {
  std::uint32_t file;
  std::int64_t first_line;
  std::int64_t last_line;
};

std::vector<Skipped> skipped_ranges(lc::TranslationUnit unit, astsieve::FileFilter& filter,
                                    Files& files) {
  const record_api::Functions& api = record_api::functions();
  struct Disposer {
    const record_api::Functions& api;
    record_api::SourceRangeList* list;
    ~Disposer() {
      if (list != nullptr) {
        api.disposeSourceRangeList(list);
      }
    }
  } ranges{api, api.getAllSkippedRanges(unit)};
  std::vector<Skipped> found;
  if (ranges.list == nullptr) {
    return found;
  }
  astsieve::FileVerdict verdict;
  for (unsigned i = 0; i < ranges.list->count; ++i) {
    const record_api::SourceRange& range = ranges.list->ranges[i];
    filter.classify(api.getRangeStart(range), verdict);
    if (verdict.kind == astsieve::FileVerdict::Accepted) {
      const Position end = expansion_position(api.getRangeEnd(range));
      found.push_back(Skipped{files.index_of(verdict.path), verdict.line, end.first});
    }
  }
  return found;
}

// The skipped ranges as (file, first_line, last_line) in record order, each
// once (a header read twice is skipped twice).
PyObject* skipped_list(std::vector<Skipped>& skipped, const FileOrder& order) {
  for (Skipped& range : skipped) {
    range.file = order.rank(range.file);
  }
  const auto key = [](const Skipped& range) {
    return std::make_tuple(range.file, range.first_line, range.last_line);
  };
  std::sort(skipped.begin(), skipped.end(),
            [&key](const Skipped& a, const Skipped& b) { return key(a) < key(b); });
  skipped.erase(
      std::unique(skipped.begin(), skipped.end(),
                  [&key](const Skipped& a, const Skipped& b) { return key(a) == key(b); }),
      skipped.end());
  Ref list(checked(PyList_New(static_cast<Py_ssize_t>(skipped.size()))));
  for (std::size_t i = 0; i < skipped.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                    checked(Py_BuildValue("(ILL)", skipped[i].file,
                                          static_cast<long long>(skipped[i].first_line),
                                          static_cast<long long>(skipped[i].last_line))));
  }
  return list.release();
}

}  // namespace

PyObject* bind_records(PyObject*, PyObject* args) {
  PyObject* names = nullptr;
  PyObject* node_type = nullptr;
  PyObject* declaration_type = nullptr;
  if (!PyArg_ParseTuple(args, "O!O!O!:bind_records", &PyDict_Type, &names, &PyType_Type, &node_type,
                        &PyType_Type, &declaration_type)) {
    return nullptr;
  }
  for (PyObject* type : {node_type, declaration_type}) {
    if (!PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(type), &PyTuple_Type)) {
      PyErr_Format(PyExc_TypeError, "bind_records() takes tuple types, got %.200s",
                   reinterpret_cast<PyTypeObject*>(type)->tp_name);
      return nullptr;
    }
  }
  RecordTypes bound;
  try {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t at = 0;
    while (PyDict_Next(names, &at, &key, &value)) {
      const long id = PyLong_Check(key) ? PyLong_AsLong(key) : -1;
      if (id < 0 || id >= kMaxKindId || !PyUnicode_Check(value)) {
        PyErr_Clear();
        PyErr_SetString(PyExc_ValueError,
                        "bind_records() takes kind names as {id: str} with small ids");
        throw PythonError{};
      }
      if (bound.kind_names.size() <= static_cast<std::size_t>(id)) {
        bound.kind_names.resize(static_cast<std::size_t>(id) + 1, nullptr);
      }
      bound.kind_names[static_cast<std::size_t>(id)] = value;
    }
  } catch (const PythonError&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  for (PyObject* name : bound.kind_names) {
    Py_XINCREF(name);
  }
  Py_INCREF(node_type);
  Py_INCREF(declaration_type);
  bound.node_type = node_type;
  bound.declaration_type = declaration_type;
  RecordTypes& types = record_types();
  std::swap(types, bound);
  Py_XDECREF(bound.node_type);
  Py_XDECREF(bound.declaration_type);
  for (PyObject* name : bound.kind_names) {
    Py_XDECREF(name);
  }
  for (auto& entry : bound.other_kind_names) {
    Py_DECREF(entry.second);
  }
  Py_RETURN_NONE;
}

PyObject* unit_table(std::uint64_t handle, const std::string& pattern,
                     const std::string& directory) {
  if (record_types().node_type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError,
                    "astsieve_cindex._native.bind_records() has not been called");
    throw PythonError{};
  }
  // The main file's name as libclang spells it, bytes and all: clang.cindex
  // would decode it strictly, and a unit whose own name is not UTF-8 is
  // still a unit.
  std::string main_path;
  const lc::Cursor unit_cursor = lc::functions().getTranslationUnitCursor(
      reinterpret_cast<lc::TranslationUnit>(static_cast<std::uintptr_t>(handle)));
  with_text(record_api::functions().getCursorSpelling(unit_cursor),
            [&main_path](const char* text, std::size_t size) { main_path.assign(text, size); });
  astsieve::FileFilter filter(pattern, main_path);
  Files files;
  Rows rows;
  RowSink sink(files, rows);
  astsieve::walk_unit(handle, filter, sink);

  const auto translation_unit =
      reinterpret_cast<lc::TranslationUnit>(static_cast<std::uintptr_t>(handle));
  std::vector<Skipped> skipped;
  if (handle != 0) {
    skipped = skipped_ranges(translation_unit, filter, files);
  }
  Extents extents(files.paths().size());
  if (handle != 0) {
    const Names names(directory);
    Collection collection{filter, files, extents, names, {}};
    std::string prefix;
    collect(lc::functions().getTranslationUnitCursor(translation_unit), collection, prefix);
  }
  extents.sort();

  FileOrder order(files.paths(), main_path);
  std::stable_sort(rows.list.begin(), rows.list.end(), [&order](const Row& a, const Row& b) {
    return std::make_tuple(order.rank(a.file), a.line, a.column) <
           std::make_tuple(order.rank(b.file), b.line, b.column);
  });

  Declarations declarations;
  Ref nodes(checked(PyList_New(static_cast<Py_ssize_t>(rows.list.size()))));
  LastInt file_number;
  LastInt line_number;
  LastInt declaration_number;
  Ref column(nullptr);
  for (std::size_t i = 0; i < rows.list.size(); ++i) {
    const Row& row = rows.list[i];
    const std::uint32_t file = order.rank(row.file);
    Extent* owner = extents.at(row.file, {row.line, row.column});
    const Py_ssize_t declaration = owner != nullptr ? declarations.index_of(*owner, file) : -1;
    column = Ref(checked(PyLong_FromLongLong(row.column)));
    PyList_SET_ITEM(
        nodes.get(), static_cast<Py_ssize_t>(i),
        named_tuple(record_types().node_type,
                    {file_number.of(file), line_number.of(row.line), column.get(),
                     kind_name(row.kind), row.spelling, declaration_number.of(declaration)}));
  }
  // Then those no node lies in, in record order.
  for (std::size_t place = 0; place < files.paths().size(); ++place) {
    for (Extent& extent : extents.in_file(order.at(place))) {
      declarations.index_of(extent, static_cast<std::uint32_t>(place));
    }
  }
  const Ref skipped_ranges(skipped_list(skipped, order));
  const Ref file_names(order.files());
  const Ref declaration_list(declarations.list());
  return checked(
      PyTuple_Pack(4, file_names.get(), declaration_list.get(), nodes.get(), skipped_ranges.get()));
}

}  // namespace astsieve_cindex
