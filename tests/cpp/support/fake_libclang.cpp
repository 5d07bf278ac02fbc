#include "fake_libclang.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "libclang/lookup.h"

namespace fake_libclang {
namespace {

using namespace astsieve::libclang;

// libclang's cursor kinds that the stand-in hands out.
constexpr std::int32_t kUnexposedDecl = 1;
constexpr std::int32_t kInvalidFile = 70;
constexpr std::int32_t kTranslationUnit = 300;

Tree* current_tree = nullptr;

// Marks the third data word of every cursor the tree hands out, so that a
// cursor made up or mangled by the caller is told apart from a real one. The
// top bit is set on purpose: data words must travel bit for bit.
constexpr std::uint64_t kCursorTag = 0xA5C0'0000'0000'0000u;
constexpr unsigned kStringFlags = 0x5EED;

const void* as_pointer(std::uint64_t word) {
  return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(word));
}

std::uint64_t as_word(const void* pointer) {
  return static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

struct Tree::File {
  std::optional<std::string> name;
};

struct Tree::Node {
  std::string name;
  bool is_null = false;
  const File* file = nullptr;
  unsigned line = 0;
  std::int32_t kind = kUnexposedDecl;
  std::int32_t xdata = 0;
  std::vector<NodeId> children;
};

// Answers the libclang calls from the current tree and records them.
class Server {
 public:
  static Tree& tree() {
    if (current_tree == nullptr) {
      std::fputs("fake libclang: called without a tree\n", stderr);
      std::abort();
    }
    return *current_tree;
  }

  static void record(Function function, std::optional<NodeId> node = std::nullopt) {
    tree().events_.push_back({function, node});
  }

  // The node of a cursor the tree handed out; nullopt for the null cursor.
  // Anything else is counted as foreign and also answered as null.
  static std::optional<NodeId> node_of(const Cursor& cursor) {
    Tree& t = tree();
    const std::uint64_t id = as_word(cursor.data[1]);
    if (cursor.data[0] == &t && id < t.nodes_.size() &&
        as_word(cursor.data[2]) == (kCursorTag | id)) {
      return id;
    }
    if (cursor.data[0] != nullptr || cursor.data[1] != nullptr || cursor.data[2] != nullptr) {
      ++t.foreign_inputs_;
    }
    return std::nullopt;
  }

  static std::optional<NodeId> node_of(const SourceLocation& location) {
    Tree& t = tree();
    if (location.ptr_data[0] == &t && location.int_data != 0 &&
        location.int_data <= t.nodes_.size()) {
      return location.int_data - 1;
    }
    if (location.ptr_data[0] != nullptr || location.int_data != 0) {
      ++t.foreign_inputs_;
    }
    return std::nullopt;
  }

  static bool is_null(const Cursor& cursor) {
    return cursor.data[0] == nullptr && cursor.data[1] == nullptr && cursor.data[2] == nullptr;
  }

  // Visits the children of `parent` the way libclang does: Continue goes on
  // with the next sibling, Recurse descends first, Break ends the whole visit.
  // Returns true when the visit was broken off.
  static bool visit(NodeId parent, CursorVisitor visitor, ClientData client_data) {
    Tree& t = tree();
    const std::vector<NodeId> children = t.nodes_[parent].children;
    for (NodeId child : children) {
      t.offered_.push_back(child);
      const ChildVisitResult answer = visitor(t.cursor(child), t.cursor(parent), client_data);
      if (answer == ChildVisit_Break) {
        return true;
      }
      if (answer == ChildVisit_Recurse && visit(child, visitor, client_data)) {
        return true;
      }
    }
    return false;
  }

  static bool knows(const Tree::File* file) {
    const auto& files = tree().files_;
    return std::any_of(files.begin(), files.end(),
                       [file](const std::unique_ptr<Tree::File>& f) { return f.get() == file; });
  }

  // The libclang calls themselves.

  static Cursor translation_unit_cursor(TranslationUnit unit) {
    Tree& t = tree();
    record(Function::GetTranslationUnitCursor, Tree::kRoot);
    if (as_word(unit) != t.handle()) {
      ++t.foreign_inputs_;
    }
    return t.cursor(Tree::kRoot);
  }

  static unsigned visit_children(Cursor parent, CursorVisitor visitor, ClientData client_data) {
    const std::optional<NodeId> node = node_of(parent);
    record(Function::VisitChildren, node);
    return node && visit(*node, visitor, client_data) ? 1u : 0u;
  }

  static int cursor_is_null(Cursor cursor) {
    record(Function::CursorIsNull, node_of(cursor));
    return is_null(cursor) ? 1 : 0;
  }

  static SourceLocation cursor_location(Cursor cursor) {
    const std::optional<NodeId> node = node_of(cursor);
    record(Function::GetCursorLocation, node);
    if (!node) {
      return {{nullptr, nullptr}, 0};
    }
    return {{&tree(), nullptr}, static_cast<unsigned>(*node + 1)};
  }

  static void instantiation_location(SourceLocation location, File* file, unsigned* line,
                                     unsigned* column, unsigned* offset) {
    const std::optional<NodeId> node = node_of(location);
    record(Function::GetInstantiationLocation, node);
    const Tree::Node* n = node ? &tree().nodes_[*node] : nullptr;
    if (file != nullptr) {
      *file = n != nullptr ? const_cast<Tree::File*>(n->file) : nullptr;
    }
    if (line != nullptr) {
      *line = n != nullptr ? n->line : 0;
    }
    if (column != nullptr) {
      *column = n != nullptr ? 1 : 0;
    }
    if (offset != nullptr) {
      *offset = 0;
    }
  }

  static String file_name(File file) {
    Tree& t = tree();
    record(Function::GetFileName);
    auto text = std::make_unique<std::optional<std::string>>();
    const auto* f = static_cast<const Tree::File*>(file);
    if (knows(f)) {
      *text = f->name;
    } else {
      ++t.foreign_inputs_;
    }
    t.live_strings_.insert(text.get());
    return {text.release(), kStringFlags};
  }

  static const char* c_string(String string) {
    record(Function::GetCString);
    const auto* text = live_text(string);
    return text != nullptr && *text ? (*text)->c_str() : nullptr;
  }

  static void dispose_string(String string) {
    record(Function::DisposeString);
    const auto* text = live_text(string);
    if (text != nullptr) {
      tree().live_strings_.erase(text);
      delete text;
    }
  }

 private:
  static const std::optional<std::string>* live_text(const String& string) {
    Tree& t = tree();
    if (string.private_flags != kStringFlags || t.live_strings_.count(string.data) == 0) {
      ++t.foreign_inputs_;
      return nullptr;
    }
    return static_cast<const std::optional<std::string>*>(string.data);
  }
};

Tree::Tree() {
  if (current_tree != nullptr) {
    std::fputs("fake libclang: a second tree while one is alive\n", stderr);
    std::abort();
  }
  Node root;
  root.name = "<unit>";
  root.kind = kTranslationUnit;
  nodes_.push_back(std::move(root));
  current_tree = this;
}

Tree::~Tree() {
  for (const void* string : live_strings_) {
    delete static_cast<const std::optional<std::string>*>(string);
  }
  current_tree = nullptr;
}

FileId Tree::file(std::string name) {
  files_.push_back(std::make_unique<File>(File{std::move(name)}));
  return files_.size() - 1;
}

FileId Tree::file_without_name() {
  files_.push_back(std::make_unique<File>());
  return files_.size() - 1;
}

NodeId Tree::add_node(NodeId parent, Node node) {
  nodes_.push_back(std::move(node));
  const NodeId id = nodes_.size() - 1;
  nodes_.at(parent).children.push_back(id);
  return id;
}

NodeId Tree::add(NodeId parent, std::string name, FileId file, unsigned line) {
  Node node;
  node.name = std::move(name);
  node.file = files_.at(file).get();
  node.line = line;
  return add_node(parent, std::move(node));
}

NodeId Tree::add_without_file(NodeId parent, std::string name) {
  Node node;
  node.name = std::move(name);
  return add_node(parent, std::move(node));
}

NodeId Tree::add_null(NodeId parent) {
  Node node;
  node.name = "<null>";
  node.is_null = true;
  return add_node(parent, std::move(node));
}

void Tree::set_kind(NodeId node, std::int32_t kind, std::int32_t xdata) {
  nodes_.at(node).kind = kind;
  nodes_.at(node).xdata = xdata;
}

std::uint64_t Tree::handle() const { return as_word(this); }

Cursor Tree::cursor(NodeId node) const {
  const Node& n = nodes_.at(node);
  if (n.is_null) {
    return {kInvalidFile, 0, {nullptr, nullptr, nullptr}};
  }
  Cursor cursor{};
  cursor.kind = n.kind;
  cursor.xdata = n.xdata;
  cursor.data[0] = this;
  cursor.data[1] = as_pointer(node);
  cursor.data[2] = as_pointer(kCursorTag | node);
  return cursor;
}

Tree::Tuple Tree::tuple(NodeId node) const {
  const Node& n = nodes_.at(node);
  return {n.kind, n.xdata, {as_word(this), node, kCursorTag | node}};
}

std::string Tree::name(const Tuple& tuple) const {
  const NodeId node = std::get<2>(tuple)[1];
  if (node < nodes_.size() && !nodes_[node].is_null && this->tuple(node) == tuple) {
    return nodes_[node].name;
  }
  return "<mangled>";
}

std::size_t Tree::calls() const { return events_.size(); }

std::size_t Tree::calls(Function function) const {
  return static_cast<std::size_t>(
      std::count_if(events_.begin(), events_.end(),
                    [function](const Event& e) { return e.function == function; }));
}

std::vector<std::string> Tree::nodes_in(Function function) const {
  std::vector<std::string> names;
  for (const Event& event : events_) {
    if (event.function == function) {
      names.push_back(event.node ? nodes_[*event.node].name : "<none>");
    }
  }
  return names;
}

std::vector<std::string> Tree::located() const { return nodes_in(Function::GetCursorLocation); }

std::vector<std::string> Tree::expanded() const { return nodes_in(Function::VisitChildren); }

std::vector<std::string> Tree::offered() const {
  std::vector<std::string> names;
  for (const std::optional<NodeId>& node : offered_) {
    names.push_back(node ? nodes_[*node].name : "<none>");
  }
  return names;
}

std::size_t Tree::visits(NodeId node) const {
  return static_cast<std::size_t>(std::count_if(
      events_.begin(), events_.end(),
      [node](const Event& e) { return e.function == Function::VisitChildren && e.node == node; }));
}

std::size_t Tree::live_strings() const { return live_strings_.size(); }

std::size_t Tree::foreign_inputs() const { return foreign_inputs_; }

}  // namespace fake_libclang

// The stand-in takes the place of the lookup of the loaded libclang.
namespace astsieve::libclang {

Functions find_loaded() {
  using fake_libclang::Server;
  return {Server::translation_unit_cursor,
          Server::visit_children,
          Server::cursor_is_null,
          Server::cursor_location,
          Server::instantiation_location,
          Server::file_name,
          Server::c_string,
          Server::dispose_string};
}

std::uint64_t loaded_objects_generation() noexcept { return 0; }

}  // namespace astsieve::libclang
