// An in-memory stand-in for exactly the libclang functions the engine calls.
// Unit tests link it in place of the lookup of the loaded libclang, so the
// engine binds its function table to the stand-in. They build a synthetic
// tree of nodes, files and lines, run an engine function and then read back
// what the engine asked libclang for.
//
// Only one tree exists at a time; while it lives, every libclang call of the
// engine is answered from it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "libclang/api.h"

namespace fake_libclang {

using NodeId = std::size_t;
using FileId = std::size_t;

// The libclang functions that the stand-in answers.
enum class Function {
  GetTranslationUnitCursor,
  VisitChildren,
  CursorIsNull,
  GetCursorLocation,
  GetInstantiationLocation,
  GetFileName,
  GetCString,
  DisposeString,
};

class Tree {
 public:
  // The translation-unit cursor; every other node descends from it.
  static constexpr NodeId kRoot = 0;

  Tree();
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  // A file whose name libclang reports as `name`. The text handed out by
  // clang_getCString ends at the first NUL byte of `name`, if any.
  FileId file(std::string name);
  // A file for which clang_getCString gives no text at all.
  FileId file_without_name();

  // Appends a child to `parent`'s children, which are visited in the order
  // they were added.
  NodeId add(NodeId parent, std::string name, FileId file, unsigned line);
  // A child whose expansion location has no file.
  NodeId add_without_file(NodeId parent, std::string name);
  // A child that clang_Cursor_isNull reports as null.
  NodeId add_null(NodeId parent);
  // Kind and xdata of a node's cursor (by default an unexposed declaration
  // with xdata 0).
  void set_kind(NodeId node, std::int32_t kind, std::int32_t xdata);

  // The translation unit handle, as the engine takes it.
  std::uint64_t handle() const;
  // A node's cursor as libclang hands it out.
  astsieve::libclang::Cursor cursor(NodeId node) const;
  // The same cursor in tuple form: kind and xdata sign-extended, data words
  // bit for bit.
  using Tuple = std::tuple<std::int64_t, std::int64_t, std::array<std::uint64_t, 3>>;
  Tuple tuple(NodeId node) const;
  // The name of the node whose tuple this is exactly, else "<mangled>".
  std::string name(const Tuple& tuple) const;

  // What the engine asked, in order.
  std::size_t calls() const;
  std::size_t calls(Function function) const;
  // Nodes whose location was asked for (clang_getCursorLocation).
  std::vector<std::string> located() const;
  // Nodes whose children were asked for (clang_visitChildren).
  std::vector<std::string> expanded() const;
  // Children handed to a visitor, null ones as "<null>".
  std::vector<std::string> offered() const;
  // clang_visitChildren calls on one node.
  std::size_t visits(NodeId node) const;
  // Strings from clang_getFileName not yet disposed of.
  std::size_t live_strings() const;
  // Cursors, locations, files, strings or handles that the tree never
  // handed out (or strings disposed of twice); always 0 for a correct caller.
  std::size_t foreign_inputs() const;

 private:
  friend class Server;
  struct File;
  struct Node;
  struct Event {
    Function function;
    std::optional<NodeId> node;
  };

  NodeId add_node(NodeId parent, Node node);
  std::vector<std::string> nodes_in(Function function) const;

  std::vector<std::unique_ptr<File>> files_;
  std::vector<Node> nodes_;
  std::vector<Event> events_;
  std::vector<std::optional<NodeId>> offered_;
  std::unordered_set<const void*> live_strings_;
  std::size_t foreign_inputs_ = 0;
};

}  // namespace fake_libclang
