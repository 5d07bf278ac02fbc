#include "generator.h"

#include <algorithm>
#include <memory>

namespace astsieve {
namespace testing {
namespace {

const std::string kSubjectBytes = std::string("ab/.-_A0 z9\n\r\t") + "\x80\xe9\xff";

// A pattern piece and how to produce text it (probably) matches.
struct Node {
  enum Type { Sequence, Alternation, Literal, Class, Group, Repeat, Assertion, Lookahead, Backref };
  explicit Node(Type node_type) : type(node_type) {}
  Type type;
  std::string text;     // the pattern text of a leaf
  std::string members;  // Literal: its byte; Class: some bytes it takes
  std::vector<Node> children;
  int min = 0;
  int max = 0;     // -1: unbounded
  int group = -1;  // Group: capture index, -1 for (?: ; Backref: the index
  bool lazy = false;
  bool negative = false;
};

class Generator {
 public:
  explicit Generator(Chooser& chooser) : choose_(chooser) {}

  Node alternation(int depth) {
    Node node{Node::Alternation};
    const unsigned count = 1 + (choose_.chance(25) ? choose_.below(3) : 0);
    for (unsigned i = 0; i < count; ++i) {
      node.children.push_back(sequence(depth));
    }
    return node;
  }

 private:
  Node sequence(int depth) {
    Node node{Node::Sequence};
    const unsigned count = choose_.below(depth == 0 ? 6 : 4);
    for (unsigned i = 0; i < count; ++i) {
      node.children.push_back(term(depth));
    }
    return node;
  }

  Node term(int depth) {
    const unsigned kind = choose_.below(100);
    if (kind < 6) {
      static const char* const kAssertions[] = {"^", "$", "\\b", "\\B"};
      Node node{Node::Assertion};
      node.text = kAssertions[choose_.below(4)];
      return node;
    }
    if (kind < 10 && depth < 3) {
      Node node{Node::Lookahead};
      node.negative = choose_.chance(50);
      node.children.push_back(alternation(depth + 1));
      return node;
    }
    Node item = atom(depth);
    if (choose_.chance(35)) {
      item = quantified(std::move(item));
      if (choose_.chance(5)) {
        item = quantified(std::move(item));
      }
    }
    return item;
  }

  Node quantified(Node child) {
    Node node{Node::Repeat};
    switch (choose_.below(6)) {
      case 0:
        node.min = 0, node.max = -1, node.text = "*";
        break;
      case 1:
        node.min = 1, node.max = -1, node.text = "+";
        break;
      case 2:
        node.min = 0, node.max = 1, node.text = "?";
        break;
      case 3:
        node.min = node.max = static_cast<int>(choose_.below(4));
        node.text = "{" + std::to_string(node.min) + "}";
        break;
      case 4:
        node.min = static_cast<int>(choose_.below(3)), node.max = -1;
        node.text = "{" + std::to_string(node.min) + ",}";
        break;
      default:
        node.min = static_cast<int>(choose_.below(3));
        node.max = node.min + static_cast<int>(choose_.below(3));
        node.text = "{" + std::to_string(node.min) + "," + std::to_string(node.max) + "}";
        break;
    }
    node.lazy = choose_.chance(30);
    node.children.push_back(std::move(child));
    return node;
  }

  Node atom(int depth) {
    const unsigned kind = choose_.below(100);
    if (kind < 40) {
      return literal();
    }
    if (kind < 50) {
      Node node{Node::Class};
      node.text = ".";
      node.members = "ab/.\x80";
      return node;
    }
    if (kind < 58) {
      return class_escape();
    }
    if (kind < 72) {
      return bracket();
    }
    if (kind < 78 && !closed_groups_.empty()) {
      Node node{Node::Backref};
      node.group = closed_groups_[choose_.below(static_cast<unsigned>(closed_groups_.size()))];
      node.text = "\\" + std::to_string(node.group);
      return node;
    }
    if (depth >= 3) {
      return literal();
    }
    Node node{Node::Group};
    if (choose_.chance(60)) {
      node.group = next_group_++;
    }
    node.children.push_back(alternation(depth + 1));
    if (node.group >= 0) {
      closed_groups_.push_back(node.group);
    }
    return node;
  }

  Node literal() {
    Node node{Node::Literal};
    const unsigned kind = choose_.below(100);
    char byte;
    if (kind < 55) {
      static const char kPlain[] = "aab/-_A0 z]}";
      byte = kPlain[choose_.below(sizeof kPlain - 1)];
      node.text.assign(1, byte);
    } else if (kind < 70) {
      static const char kSpecial[] = ".*+?()[]{}|^$\\/-";
      byte = kSpecial[choose_.below(sizeof kSpecial - 1)];
      node.text = std::string("\\") + byte;
    } else if (kind < 78) {
      static const char* const kEscapes[][2] = {{"\\n", "\n"}, {"\\r", "\r"}, {"\\t", "\t"},
                                                {"\\f", "\f"}, {"\\v", "\v"}, {"\\0", ""}};
      const auto& escape = kEscapes[choose_.below(6)];
      node.text = escape[0];
      byte = escape[0][1] == '0' ? '\0' : escape[1][0];
    } else if (kind < 86) {
      static const char kHexBytes[] = "a/.\n\r\x80\xe9\xff";
      byte = kHexBytes[choose_.below(sizeof kHexBytes - 1)];
      static const char kDigits[] = "0123456789abcdef";
      const auto value = static_cast<unsigned char>(byte);
      const std::string hex{kDigits[value >> 4], kDigits[value & 15]};
      // \uHHHH stands for its low byte on narrow characters.
      node.text = choose_.chance(50) ? "\\x" + hex : "\\u01" + hex;
    } else if (kind < 92) {
      static const char kControls[] = "aJz/";
      byte = kControls[choose_.below(sizeof kControls - 1)];
      node.text = std::string("\\c") + byte;
    } else {
      static const char kHigh[] = "\x80\xe9\xff";
      byte = kHigh[choose_.below(3)];
      node.text.assign(1, byte);
    }
    node.members.assign(1, byte);
    return node;
  }

  Node class_escape() {
    static const char* const kEscapes[][2] = {{"\\d", "09"}, {"\\D", "a/"},  {"\\s", " \n"},
                                              {"\\S", "a/"}, {"\\w", "a_0"}, {"\\W", "/.\x80"}};
    const auto& escape = kEscapes[choose_.below(6)];
    Node node{Node::Class};
    node.text = escape[0];
    node.members = escape[1];
    return node;
  }

  Node bracket() {
    Node node{Node::Class};
    const bool negated = choose_.chance(25);
    node.text = negated ? "[^" : "[";
    if (choose_.chance(10)) {
      node.text += '-';
      node.members += '-';
    }
    const unsigned count = choose_.below(4);
    for (unsigned i = 0; i < count; ++i) {
      static const char* const kItems[][2] = {
          {"a", "a"},          {"/", "/"},         {".", "."},
          {"a-c", "abc"},      {"0-9", "09"},      {"\\x20-\\x2f", "/."},
          {"\\]", "]"},        {"\\\\", "\\"},     {"\\-", "-"},
          {"\\n", "\n"},       {"\\b", "\b"},      {"\\x80-\\xff", "\x80\xe9"},
          {"\\d", "0"},        {"\\W", "/"},       {"\\s", " "},
          {"[:alpha:]", "aA"}, {"[:digit:]", "0"}, {"[:space:]", " \r"},
          {"[:upper:]", "A"},  {"[:w:]", "_"},     {"[:punct:]", "/."},
          {"[:xdigit:]", "a"}, {"[=a=]", "a"},     {"[.a.]", "a"},
          {"[.hyphen.]", "-"}, {"[.space.]", " "}, {"^", "^"},
          {"[", "["},          {"\xe9", "\xe9"},   {"A-Z", "A"}};
      const auto& item = kItems[choose_.below(sizeof kItems / sizeof kItems[0])];
      node.text += item[0];
      node.members += item[1];
    }
    if (choose_.chance(10)) {
      node.text += '-';
      node.members += '-';
    }
    node.text += ']';
    if (negated) {
      std::string outside;
      for (char c : kSubjectBytes) {
        if (node.members.find(c) == std::string::npos) {
          outside += c;
        }
      }
      node.members = outside;
    }
    return node;
  }

  Chooser& choose_;
  int next_group_ = 1;
  std::vector<int> closed_groups_;
};

std::string print(const Node& node) {
  std::string text;
  switch (node.type) {
    case Node::Sequence:
      for (const Node& child : node.children) {
        text += print(child);
      }
      return text;
    case Node::Alternation:
      for (std::size_t i = 0; i < node.children.size(); ++i) {
        text += (i == 0 ? "" : "|") + print(node.children[i]);
      }
      return text;
    case Node::Group:
      return (node.group >= 0 ? "(" : "(?:") + print(node.children[0]) + ")";
    case Node::Lookahead:
      return (node.negative ? "(?!" : "(?=") + print(node.children[0]) + ")";
    case Node::Repeat:
      return print(node.children[0]) + node.text + (node.lazy ? "?" : "");
    default:
      return node.text;
  }
}

// Text that the node probably matches; assertions and lookaheads are
// ignored, so not every sample matches.
void sample(const Node& node, Chooser& choose, std::vector<std::string>& groups, std::string& out) {
  switch (node.type) {
    case Node::Sequence:
      for (const Node& child : node.children) {
        sample(child, choose, groups, out);
      }
      break;
    case Node::Alternation:
      sample(node.children[choose.below(static_cast<unsigned>(node.children.size()))], choose,
             groups, out);
      break;
    case Node::Literal:
      out += node.members;
      break;
    case Node::Class:
      if (!node.members.empty()) {
        out += node.members[choose.below(static_cast<unsigned>(node.members.size()))];
      }
      break;
    case Node::Group: {
      const std::size_t from = out.size();
      sample(node.children[0], choose, groups, out);
      if (node.group >= 0) {
        groups.resize(std::max(groups.size(), static_cast<std::size_t>(node.group) + 1));
        groups[static_cast<std::size_t>(node.group)] = out.substr(from);
      }
      break;
    }
    case Node::Repeat: {
      const int extra =
          node.max < 0
              ? static_cast<int>(choose.below(3))
              : static_cast<int>(choose.below(static_cast<unsigned>(node.max - node.min + 1)));
      for (int i = 0; i < node.min + extra; ++i) {
        sample(node.children[0], choose, groups, out);
      }
      break;
    }
    case Node::Backref:
      if (static_cast<std::size_t>(node.group) < groups.size()) {
        out += groups[static_cast<std::size_t>(node.group)];
      }
      break;
    case Node::Assertion:
    case Node::Lookahead:
      break;
  }
}

void mutate(Chooser& choose, std::string& text, const std::string& bytes) {
  const unsigned edit = choose.below(3);
  const auto at = choose.below(static_cast<unsigned>(text.size()) + 1);
  const char byte = bytes[choose.below(static_cast<unsigned>(bytes.size()))];
  if (edit == 0 || text.empty()) {
    text.insert(text.begin() + at, byte);
  } else if (at < text.size()) {
    if (edit == 1) {
      text.erase(at, 1);
    } else {
      text[at] = byte;
    }
  }
}

}  // namespace

unsigned ByteChooser::below(unsigned n) {
  unsigned value = 0;
  for (unsigned range = 1; range < n && at_ < size_; range <<= 8) {
    value = (value << 8) | data_[at_++];
  }
  return value % n;
}

std::string random_subject(Chooser& chooser, unsigned max_size) {
  std::string subject;
  const unsigned size = chooser.below(max_size + 1);
  for (unsigned i = 0; i < size; ++i) {
    subject += kSubjectBytes[chooser.below(static_cast<unsigned>(kSubjectBytes.size()))];
  }
  return subject;
}

Sample generate_sample(Chooser& chooser, unsigned subjects) {
  Generator generator(chooser);
  const Node root = generator.alternation(0);
  Sample result;
  result.pattern = print(root);
  if (chooser.chance(8)) {
    for (unsigned edits = 1 + chooser.below(3); edits > 0; --edits) {
      mutate(chooser, result.pattern, "()[]{}|*+?\\^$-:=!,.0123abcdswxuB");
    }
  }
  for (unsigned i = 0; i < subjects; ++i) {
    const unsigned kind = chooser.below(8);
    std::string subject;
    if (kind < 6) {
      std::vector<std::string> groups;
      sample(root, chooser, groups, subject);
      if (kind >= 4) {
        mutate(chooser, subject, kSubjectBytes);
      }
    } else {
      subject = random_subject(chooser, 10);
    }
    result.subjects.push_back(subject.substr(0, 24));
  }
  return result;
}

}  // namespace testing
}  // namespace astsieve
