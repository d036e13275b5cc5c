// Shared helpers of the geometry tests: the committed reference values, LAPACK, random inputs.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/library.h"
#include "tesmar/mth.h"

extern "C" {
void dgetrf_(const int *m, const int *n, double *a, const int *lda, int *ipiv, int *info);
void dgetri_(const int *n, double *a, const int *lda, const int *ipiv, double *work,
             const int *lwork, int *info);
void dgbsv_(const int *n, const int *kl, const int *ku, const int *nrhs, double *ab,
            const int *ldab, int *ipiv, double *b, const int *ldb, int *info);
void dgels_(const char *trans, const int *m, const int *n, const int *nrhs, double *a,
            const int *lda, double *b, const int *ldb, double *work, const int *lwork, int *info);
}

namespace tesmar::test {

using MthTest = LibraryTest;

// One line of reference.txt: inputs and the results computed at high precision.
struct Reference {
  std::vector<double> in, out;
};

inline std::vector<Reference> references(const std::string &name) {
  std::ifstream file(TESMAR_MTH_REFERENCE);  // written by reference.py when the tests are built
  EXPECT_TRUE(file.is_open()) << TESMAR_MTH_REFERENCE;
  std::vector<Reference> all;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream words(line);
    std::string word;
    words >> word;
    if (word != name) continue;
    Reference r;
    bool results = false;
    while (words >> word) {
      if (word == "=") {
        results = true;
        continue;
      }
      (results ? r.out : r.in).push_back(std::strtod(word.c_str(), nullptr));
    }
    all.push_back(r);
  }
  return all;
}

// Deterministic random numbers.
class Random {
 public:
  explicit Random(uint64_t seed) : engine_(seed) {}
  double uniform(double lo, double hi) {
    return lo + (hi - lo) * (static_cast<double>(engine_() >> 11) * 0x1.0p-53);
  }
  int64_t integer(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(engine_() % static_cast<uint64_t>(hi - lo + 1));
  }

 private:
  std::mt19937_64 engine_;
};

inline double max_abs_diff(const double *a, const double *b, int n) {
  double worst = 0.0;
  for (int i = 0; i < n; ++i) worst = std::fmax(worst, std::fabs(a[i] - b[i]));
  return worst;
}

// True when no element is NaN.
inline bool all_numbers(const double *a, int n) {
  for (int i = 0; i < n; ++i)
    if (std::isnan(a[i])) return false;
  return true;
}

}  // namespace tesmar::test
