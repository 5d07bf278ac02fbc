// A unit that builds IR through llvm::IRBuilder: every declaration of the
// LLVM and C++ library headers it pulls in is part of its tree.
#include <llvm/IR/IRBuilder.h>

llvm::Value* emit_scaled_sum(llvm::IRBuilder<>& builder, llvm::Value* a, llvm::Value* b) {
  llvm::Value* sum = builder.CreateAdd(a, b, "sum");
  return builder.CreateMul(sum, builder.getInt32(3), "scaled");
}

void emit_return(llvm::IRBuilder<>& builder, llvm::Value* value) {
  if (value != nullptr) {
    builder.CreateRet(value);
  } else {
    builder.CreateRetVoid();
  }
}
