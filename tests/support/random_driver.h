// The loop every randomised differential test runs: a seeded generator, actions chosen by weight,
// a check of the implementation against its model after every step, and the step number in every
// failure message. A run stops at its first failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace tesmar::test {

class RandomDriver {
 public:
  struct Action {
    int weight;
    std::function<void()> run;
  };

  explicit RandomDriver(uint64_t seed) : rng_(seed) {}

  // A uniform number in 0..n-1 (n >= 1).
  int32_t pick(int32_t n) { return std::uniform_int_distribution<int32_t>(0, n - 1)(rng_); }
  // True `in` times out of `of`.
  bool chance(int32_t in, int32_t of) { return pick(of) < in; }
  std::mt19937_64 &rng() { return rng_; }
  // "step N", for failure messages.
  std::string where() const { return "step " + std::to_string(step_); }
  int step() const { return step_; }

  // Runs `steps` steps, each one action chosen by weight followed by `check`.
  void run(int steps, std::initializer_list<Action> actions, const std::function<void()> &check) {
    const std::vector<Action> all(actions);
    int total = 0;
    for (const Action &a : all) total += a.weight;
    for (step_ = 0; step_ < steps && !::testing::Test::HasFailure(); ++step_) {
      int what = pick(total);
      for (const Action &a : all) {
        if (what < a.weight) {
          a.run();
          break;
        }
        what -= a.weight;
      }
      check();
    }
  }

 private:
  std::mt19937_64 rng_;
  int step_ = 0;
};

}  // namespace tesmar::test
