// Random ECMAScript patterns from a grammar that covers every construct the
// path matcher accepts, with subjects drawn from the pattern (so that many of
// them match), mutated, or made of random bytes.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace astsieve {
namespace testing {

// Where the generator's decisions come from.
class Chooser {
 public:
  virtual ~Chooser() = default;
  // A number in [0, n), n > 0.
  virtual unsigned below(unsigned n) = 0;
  bool chance(unsigned percent) { return below(100) < percent; }
};

class RandomChooser : public Chooser {
 public:
  explicit RandomChooser(std::uint64_t seed) : engine_(seed) {}
  unsigned below(unsigned n) override {
    return std::uniform_int_distribution<unsigned>(0, n - 1)(engine_);
  }

 private:
  std::mt19937_64 engine_;
};

// Reads decisions from a byte string (a fuzzer's input); zeros once it is
// used up.
class ByteChooser : public Chooser {
 public:
  ByteChooser(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  unsigned below(unsigned n) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

struct Sample {
  std::string pattern;
  std::vector<std::string> subjects;
};

// One pattern (now and then mutated into something the standard library may
// reject) with `subjects` subjects of at most a dozen bytes or so.
Sample generate_sample(Chooser& chooser, unsigned subjects);

// A short random subject over bytes that matter to paths and to the
// matcher: '/', '.', line ends, word and non-word bytes, bytes >= 0x80.
std::string random_subject(Chooser& chooser, unsigned max_size);

}  // namespace testing
}  // namespace astsieve
