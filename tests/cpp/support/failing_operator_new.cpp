#include "failing_operator_new.h"

#include <link.h>
#include <unwind.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace astsieve::testing {
namespace {

struct AddressRange {
  std::uintptr_t begin = 0;
  std::uintptr_t end = 0;
  bool contains(std::uintptr_t address) const { return address >= begin && address < end; }
};

// The code segments of the test executable and of libstdc++, found once.
struct CodeRanges {
  AddressRange executable;
  AddressRange libstdcxx;
};

AddressRange code_range(const dl_phdr_info& info) {
  AddressRange range;
  for (ElfW(Half) i = 0; i < info.dlpi_phnum; ++i) {
    const ElfW(Phdr)& header = info.dlpi_phdr[i];
    if (header.p_type == PT_LOAD && (header.p_flags & PF_X) != 0) {
      range.begin = info.dlpi_addr + header.p_vaddr;
      range.end = range.begin + header.p_memsz;
    }
  }
  return range;
}

int record_code_range(dl_phdr_info* info, std::size_t /*size*/, void* data) {
  auto* ranges = static_cast<CodeRanges*>(data);
  const char* name = info->dlpi_name;
  if (name == nullptr || name[0] == '\0') {
    if (ranges->executable.end == 0) {
      ranges->executable = code_range(*info);
    }
  } else if (std::strstr(name, "libstdc++") != nullptr) {
    ranges->libstdcxx = code_range(*info);
  }
  return 0;
}

const CodeRanges& code_ranges() {
  static const CodeRanges ranges = [] {
    CodeRanges found;
    dl_iterate_phdr(record_code_range, &found);
    return found;
  }();
  return ranges;
}

struct Plan {
  bool armed = false;
  bool busy = false;  // inside the stack inspection
  std::size_t fail_at = 0;
  std::size_t counted = 0;
  std::size_t passed_through = 0;
  bool failed = false;
};

thread_local Plan plan;

constexpr std::size_t kMaxFrames = 64;

struct Frames {
  std::uintptr_t addresses[kMaxFrames];
  std::size_t count = 0;
};

_Unwind_Reason_Code record_frame(_Unwind_Context* context, void* data) {
  auto* frames = static_cast<Frames*>(data);
  frames->addresses[frames->count++] = _Unwind_GetIP(context);
  return frames->count == kMaxFrames ? _URC_END_OF_STACK : _URC_NO_REASON;
}

// True when the allocation whose operator new returns to `caller` was asked
// for by the executable's own code: walking outwards from the caller, past
// libstdc++'s frames, the first frame lies in the executable rather than in
// libclang (or anything else).
bool asked_for_by_executable(std::uintptr_t caller) {
  const CodeRanges& ranges = code_ranges();
  if (ranges.executable.contains(caller)) {
    return true;
  }
  if (!ranges.libstdcxx.contains(caller)) {
    return false;
  }
  Frames frames;
  _Unwind_Backtrace(record_frame, &frames);
  std::size_t i = 0;
  while (i < frames.count && frames.addresses[i] != caller) {
    ++i;
  }
  while (i < frames.count && ranges.libstdcxx.contains(frames.addresses[i])) {
    ++i;
  }
  return i < frames.count && ranges.executable.contains(frames.addresses[i]);
}

void* allocate(std::size_t size, std::uintptr_t caller) {
  if (plan.armed && !plan.busy) {
    plan.busy = true;
    const bool own = asked_for_by_executable(caller);
    plan.busy = false;
    if (!own) {
      ++plan.passed_through;
    } else if (++plan.counted == plan.fail_at) {
      plan.failed = true;
      throw std::bad_alloc();
    }
  }
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

}  // namespace

FailingAllocations::FailingAllocations(std::size_t fail_at) {
  code_ranges();
  plan = Plan{};
  plan.fail_at = fail_at;
  plan.armed = true;
}

FailingAllocations::~FailingAllocations() { plan.armed = false; }

std::size_t FailingAllocations::counted() const { return plan.counted; }
std::size_t FailingAllocations::passed_through() const { return plan.passed_through; }
bool FailingAllocations::failed() const { return plan.failed; }

}  // namespace astsieve::testing

// The replaceable global allocation functions, all but the aligned ones
// (which nothing here uses, and which stay a matching pair of their own).
// The nothrow forms are replaced too, so that no block crosses from one
// allocator to another.
#define ASTSIEVE_CALLER reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))
void* operator new(std::size_t size) { return astsieve::testing::allocate(size, ASTSIEVE_CALLER); }
void* operator new[](std::size_t size) {
  return astsieve::testing::allocate(size, ASTSIEVE_CALLER);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return astsieve::testing::allocate(size, ASTSIEVE_CALLER);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return astsieve::testing::allocate(size, ASTSIEVE_CALLER);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
#undef ASTSIEVE_CALLER
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
