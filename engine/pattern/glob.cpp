#include "glob.h"

#include <cstring>

#include "byte_class.h"

namespace astsieve {
namespace pattern {
namespace {

bool has_line_end(std::string_view text) {
  return std::memchr(text.data(), '\n', text.size()) != nullptr ||
         std::memchr(text.data(), '\r', text.size()) != nullptr;
}

// The single byte a state takes, when it takes exactly one.
std::optional<char> single_byte(const Program& program, const State& state) {
  if (state.op == Op::Byte) {
    return static_cast<char>(state.arg);
  }
  if (state.op == Op::Class && program.classes[state.arg].count() == 1) {
    for (unsigned byte = 0; byte < 256; ++byte) {
      if (program.classes[state.arg].has(static_cast<unsigned char>(byte))) {
        return static_cast<char>(byte);
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Glob> Glob::from(const Program& program) {
  if (program.has_back_references) {
    return std::nullopt;
  }
  const ByteSet any = any_byte_but_line_ends();
  std::vector<std::string> pieces(1);
  std::uint32_t id = program.start;
  // Each state is passed at most once: the chain only moves forward.
  for (std::size_t guard = 0; guard <= program.states.size(); ++guard) {
    const State& state = program.states[id];
    if (state.op == Op::Accept) {
      Glob glob;
      glob.starred_ = pieces.size() > 1;
      glob.head_ = pieces.front();
      if (glob.starred_) {
        glob.tail_ = pieces.back();
        glob.middle_.assign(pieces.begin() + 1, pieces.end() - 1);
        for (const std::string& piece : pieces) {
          if (has_line_end(piece)) {
            return std::nullopt;
          }
        }
      }
      return glob;
    }
    if (const auto byte = single_byte(program, state)) {
      pieces.back() += *byte;
    } else if (state.op == Op::Repeat) {
      const State& body = program.states[state.alt];
      if (body.op != Op::Class || body.next != id || !(program.classes[body.arg] == any)) {
        return std::nullopt;
      }
      if (!pieces.back().empty() || pieces.size() == 1) {
        pieces.emplace_back();
      }
    } else if (state.op != Op::CaptureBegin && state.op != Op::CaptureEnd) {
      return std::nullopt;
    }
    id = state.next;
  }
  return std::nullopt;
}

bool Glob::full_match(std::string_view subject) const {
  if (!starred_) {
    return subject == head_;
  }
  if (subject.size() < head_.size() + tail_.size() ||
      subject.compare(0, head_.size(), head_) != 0 ||
      subject.compare(subject.size() - tail_.size(), tail_.size(), tail_) != 0 ||
      has_line_end(subject)) {
    return false;
  }
  std::string_view rest =
      subject.substr(head_.size(), subject.size() - head_.size() - tail_.size());
  for (const std::string& piece : middle_) {
    const std::size_t at = rest.find(piece);
    if (at == std::string_view::npos) {
      return false;
    }
    rest.remove_prefix(at + piece.size());
  }
  return true;
}

}  // namespace pattern
}  // namespace astsieve
