// Memory exhaustion inside the engine: every allocation the engine makes
// during a small real walk is failed in turn. Each failure must surface as
// std::bad_alloc from the call (no partial result, no crash), and the next
// call must give the full result again. Leaks on these paths are caught by
// the sanitizer build's leak checker.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <new>
#include <string>

#include "failing_operator_new.h"
#include "parsed_sources.h"
#include "walk/cursor.h"
#include "walk/grouping.h"

namespace astsieve {
namespace {

using testing::FailingAllocations;

// A header matched by the pattern, a macro expanded in the main file, nested
// statements and several nodes per line: every container of the walk grows.
constexpr const char* kHeader =
    "struct point { int x; int y; };\n"
    "static inline int twice(int v) { return v + v; }\n";
constexpr const char* kMain =
    "#include \"inc/shapes.h\"\n"
    "#define SQUARE(v) ((v) * (v))\n"
    "int area(struct point p) {\n"
    "  int total = 0;\n"
    "  for (int i = 0; i < p.x; ++i) { if (i % 2) { total += SQUARE(i) + twice(p.y); } }\n"
    "  return total;\n"
    "}\n"
    "int a, b, c; int d = SQUARE(3);\n";
constexpr const char* kPattern = ".*/inc/[a-z]+\\.h";

// The sources above, written to a fresh folder and parsed.
class RealUnit {
 public:
  RealUnit()
      : main_path_(folder_.write("main.c", kMain)),
        header_(folder_.write("inc/shapes.h", kHeader)),
        unit_(main_path_, {"-I", folder_.path("")}) {}

  std::uint64_t handle() const { return unit_.handle(); }
  const std::string& main_path() const { return main_path_; }
  CursorTuple cursor(const std::string& spelling) const {
    return to_cursor_tuple(spelling.empty() ? unit_.cursor() : unit_.find(spelling));
  }

 private:
  testing::SourceFolder folder_;
  std::string main_path_;
  std::string header_;
  testing::ParsedUnit unit_;
};

// Fails allocation 1, 2, ... of `call` until a run needs no more than were
// failed. Every failing run must throw std::bad_alloc, and the call right
// after it must give `expected`. Returns the number of allocations failed.
template <typename Result>
std::size_t fail_each_allocation(const std::function<Result()>& call, const Result& expected) {
  std::size_t fail_at = 1;
  for (;; ++fail_at) {
    bool threw = false;
    std::size_t counted = 0;
    {
      FailingAllocations faults(fail_at);
      try {
        Result result = call();
        EXPECT_FALSE(faults.failed())
            << "allocation " << fail_at << " failed but a result came back";
        EXPECT_EQ(result, expected);
      } catch (const std::bad_alloc&) {
        threw = true;
        EXPECT_TRUE(faults.failed()) << "bad_alloc without an injected failure";
      }
      counted = faults.counted();
    }
    if (!threw) {
      EXPECT_EQ(counted, fail_at - 1) << "a run that failed nothing saw a different count";
      return fail_at - 1;
    }
    EXPECT_EQ(call(), expected) << "after failing allocation " << fail_at;
    if (::testing::Test::HasFailure()) {
      return fail_at;
    }
  }
}

std::size_t count_allocations(const std::function<void()>& call) {
  FailingAllocations counter(0);
  call();
  return counter.counted();
}

class AllocationFailure : public ::testing::Test {
 protected:
  RealUnit unit_;
};

TEST_F(AllocationFailure, WholeUnitWalkFailsCleanlyAtEveryAllocation) {
  const std::string main = unit_.main_path();
  const std::uint64_t handle = unit_.handle();
  std::size_t failed[2] = {};
  // The second pattern refers back to a group, so the header's path goes
  // through the backtracking matcher and its work buffers.
  const char* patterns[2] = {kPattern, ".*/inc/(s)hape\\1\\.h"};
  for (int i = 0; i < 2; ++i) {
    const std::string pattern = patterns[i];
    std::function<PathToLinenoToNodes()> call = [&] {
      return get_path_to_lineno_to_nodes(handle, pattern, main);
    };
    const PathToLinenoToNodes expected = call();
    ASSERT_EQ(expected.size(), 2u) << "both the main file and the header are accepted";
    failed[i] = fail_each_allocation(call, expected);
  }
  // The pattern, the result, its keys, the stack, child arrays and file
  // names all allocate: far more than a handful of points were failed.
  EXPECT_GT(failed[0], 50u);
  EXPECT_GT(failed[1], 50u);
}

TEST_F(AllocationFailure, SubtreeWalkFailsCleanlyAtEveryAllocation) {
  const std::string main = unit_.main_path();
  const CursorTuple function = unit_.cursor("area");
  std::function<PathToLinenoToNodes()> call = [&] {
    return update_path_lineno(function, kPattern, main);
  };
  const PathToLinenoToNodes expected = call();
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_GT(fail_each_allocation(call, expected), 20u);
}

TEST_F(AllocationFailure, DirectChildrenFailCleanlyAtEveryAllocation) {
  const std::string main = unit_.main_path();
  const CursorTuple unit_cursor = unit_.cursor("");
  std::function<PathToNodes()> call = [&] {
    return get_path_to_nodes(unit_cursor, kPattern, main);
  };
  const PathToNodes expected = call();
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_GT(fail_each_allocation(call, expected), 5u);
}

TEST_F(AllocationFailure, PatternProgramFailsCleanlyBeforeAnyWalk) {
  // Handle 0: the only work is building the filter, so every counted
  // allocation belongs to the compiled pattern.
  std::function<PathToLinenoToNodes()> call = [] {
    return get_path_to_lineno_to_nodes(0, "(src|include)/[^/]+\\.(h|hpp)|.*/a{2,5}b*", "m.c");
  };
  EXPECT_GT(fail_each_allocation(call, PathToLinenoToNodes{}), 0u);
}

TEST_F(AllocationFailure, CounterSeesOnlyTheEnginesOwnAllocations) {
  const std::string main = unit_.main_path();
  const std::uint64_t handle = unit_.handle();
  // The first call of the process binds libclang, and allocates for that.
  get_path_to_lineno_to_nodes(handle, kPattern, main);
  FailingAllocations counter(0);
  get_path_to_lineno_to_nodes(handle, kPattern, main);
  // libclang allocates during the walk too; those go uncounted and unfailed.
  // Counting is exact, so a second identical call counts the same.
  const std::size_t first = counter.counted();
  EXPECT_GT(counter.passed_through(), 0u);
  EXPECT_EQ(count_allocations([&] { get_path_to_lineno_to_nodes(handle, kPattern, main); }), first);
}

}  // namespace
}  // namespace astsieve
