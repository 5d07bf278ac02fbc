#include "program.h"

#include <string>

namespace astsieve {
namespace pattern {
namespace {

const char* op_name(Op op) {
  switch (op) {
    case Op::Byte:
      return "byte";
    case Op::Class:
      return "class";
    case Op::Alternative:
      return "alternative";
    case Op::Repeat:
      return "repeat";
    case Op::CaptureBegin:
      return "capture-begin";
    case Op::CaptureEnd:
      return "capture-end";
    case Op::LineBegin:
      return "line-begin";
    case Op::LineEnd:
      return "line-end";
    case Op::WordBoundary:
      return "word-boundary";
    case Op::Lookahead:
      return "lookahead";
    case Op::BackReference:
      return "back-reference";
    case Op::Accept:
      return "accept";
    case Op::Dummy:
      return "dummy";
  }
  return "?";
}

std::string state_number(std::uint32_t state) {
  return state == kNoState ? std::string("-") : std::to_string(state);
}

}  // namespace

std::string dump(const Program& program) {
  std::string text = "start " + std::to_string(program.start) + "\n";
  for (std::size_t i = 0; i < program.states.size(); ++i) {
    const State& state = program.states[i];
    text += std::to_string(i) + ": " + op_name(state.op);
    if (state.op == Op::Byte) {
      text += " '" + std::string(1, static_cast<char>(state.arg)) + "'";
    } else if (state.op != Op::Accept && state.op != Op::Dummy) {
      text += " " + std::to_string(state.arg);
    }
    if (state.flag) {
      text += " flag";
    }
    text += " next " + state_number(state.next);
    if (state.alt != kNoState) {
      text += " alt " + state_number(state.alt);
    }
    text += "\n";
  }
  return text;
}

}  // namespace pattern
}  // namespace astsieve
