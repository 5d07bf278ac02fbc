// libFuzzer target: the path matcher against std::regex, on what both take
// as a valid pattern (the matcher's own parser decides that for it), on the
// error code and on every answer. Odd first bytes steer the pattern grammar
// of the differential test, even ones give a raw pattern and raw subjects.
// Any disagreement aborts with the case printed.
// Run it with scripts/fuzz_pattern.sh.
#include <cstdio>
#include <cstdlib>

#include "generator.h"
#include "oracle.h"

namespace {

using astsieve::testing::ByteChooser;
using astsieve::testing::OracleCheck;
using astsieve::testing::Sample;

constexpr std::size_t kMaxPattern = 48;
constexpr std::size_t kMaxSubject = 32;

Sample raw_sample(const std::uint8_t* data, std::size_t size) {
  Sample sample;
  const std::size_t pattern_size = std::min<std::size_t>(data[0] % (kMaxPattern + 1), size - 1);
  sample.pattern.assign(reinterpret_cast<const char*>(data) + 1, pattern_size);
  std::size_t at = 1 + pattern_size;
  // The rest, in up to three subjects split at 0xff bytes.
  std::string subject;
  for (; at < size && sample.subjects.size() < 3; ++at) {
    if (data[at] == 0xff || subject.size() == kMaxSubject) {
      sample.subjects.push_back(subject);
      subject.clear();
    } else {
      subject += static_cast<char>(data[at]);
    }
  }
  sample.subjects.push_back(subject);
  return sample;
}

void check(const Sample& sample) {
  const OracleCheck oracle(sample.pattern);
  std::string detail;
  bool failed = oracle.compile_outcome(&detail) == OracleCheck::Disagree;
  for (const std::string& subject : sample.subjects) {
    bool matched = false;
    if (failed || oracle.compare(subject, &detail, &matched) == OracleCheck::Disagree) {
      failed = true;
      break;
    }
  }
  if (failed) {
    std::fprintf(stderr, "disagreement: %s\n", detail.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  Sample sample;
  if (data[0] & 1) {
    ByteChooser chooser(data + 1, size - 1);
    sample = astsieve::testing::generate_sample(chooser, 4);
  } else {
    sample = raw_sample(data + 1, size - 1);
  }
  astsieve::testing::run_on_large_stack([&] { check(sample); });
  return 0;
}
