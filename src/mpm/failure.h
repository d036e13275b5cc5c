// Failures on their way out of a module: the one way every module carries and issues them.
//
// A client handler called while a message is issued may leave the operation by longjmp or by
// throwing, so a message is issued only from a frame that holds nothing a destructor or only that
// frame would release. The work of an operation is therefore done by inner functions that issue
// nothing: they return a Failure, which carries the code, the severity it is to be issued at and
// the arguments its text takes. The exported operation issues it with issue() once the inner
// frames are gone, and returns its code.
//
// Severity 0 means "nothing to issue": success, a quiet code (not found, stop a walk), or the
// failure of an operation that has issued its own message already (another module's, or one of
// the module's own exported operations called from inside); it passes through issue() unchanged.
// A text argument is a pointer: what it points at must live until the failure is issued.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tesmar/mpm.h"

namespace tesmar {

class Failure {
 public:
  constexpr Failure() = default;

  // A failure to issue at a severity, and one that needs no issuing.
  static constexpr Failure at(mpm_Status code, mpm_Status severity) { return Failure(code, severity); }
  static constexpr Failure error(mpm_Status code) { return Failure(code, MPM_ERROR); }
  static constexpr Failure fatal(mpm_Status code) { return Failure(code, MPM_FATAL); }
  static constexpr Failure quiet(mpm_Status code) { return Failure(code, 0); }
  static constexpr Failure issued(mpm_Status code) { return Failure(code, 0); }

  // Adds the next argument of the message text (at most two).
  constexpr Failure &with(int32_t value) { return add(Arg::kInt).i = value, *this; }
  constexpr Failure &with(uint64_t value) { return add(Arg::kHandle).u = value, *this; }
  constexpr Failure &with(const void *value) { return add(Arg::kPointer).p = value, *this; }
  constexpr Failure &with(const char *value) { return add(Arg::kText).s = value, *this; }
  // A text written between the message's header and its text (what exactly was wrong, when the
  // message's own text cannot say it); it must live until the failure is issued.
  constexpr Failure &detailed(const char *text) { return detail_ = text, *this; }

  constexpr mpm_Status code() const { return code_; }
  constexpr mpm_Status severity() const { return severity_; }
  constexpr explicit operator bool() const { return code_ != 0; }
  // The same failure with nothing left to issue (once it has been issued, say).
  constexpr Failure passed() const { return Failure(code_, 0); }

  // Issues the failure (when it has a severity) with its arguments; returns its code.
  mpm_Status issue() const {
    if (code_ == 0 || severity_ == 0) return code_;
    char *detail = detail_ != nullptr ? copy(detail_) : nullptr;
    auto emit = [&](auto... args) {
      if (detail == nullptr) return mpm_IssueMessage(0, code_, severity_, args...);
      return mpm_IssueMessage(MPM_OPTIONS, code_, severity_, MPM_OPT_TEXT, detail, MPM_OPT_END,
                              args...);
    };
    if (count_ == 0) return emit();
    return args_[0].visit([&](auto first) {
      if (count_ == 1) return emit(first);
      return args_[1].visit([&](auto second) { return emit(first, second); });
    });
  }

 private:
  struct Arg {
    enum Kind : uint8_t { kInt, kHandle, kPointer, kText } kind = kInt;
    union {
      int32_t i;
      uint64_t u;
      const void *p;
      const char *s;
    };
    constexpr Arg() : i(0) {}
    template <typename F>
    mpm_Status visit(F f) const {
      switch (kind) {
        case kInt: return f(static_cast<int>(i));
        case kHandle: return f(u);
        case kPointer: return f(p);
        case kText: return f(s != nullptr ? s : "");
      }
      return f(0);
    }
  };

  constexpr Failure(mpm_Status code, mpm_Status severity) : code_(code), severity_(severity) {}
  static char *copy(const char *text) {
    const std::size_t n = std::strlen(text) + 1;
    auto *out = static_cast<char *>(std::malloc(n));
    if (out != nullptr) std::memcpy(out, text, n);
    return out;
  }
  constexpr Arg &add(typename Arg::Kind kind) {
    Arg &arg = args_[count_ < 2 ? count_++ : 1];
    arg.kind = kind;
    return arg;
  }

  mpm_Status code_ = 0;
  mpm_Status severity_ = 0;
  int32_t count_ = 0;
  Arg args_[2];
  const char *detail_ = nullptr;
};

inline constexpr Failure kOk{};

// Issues a failure and returns its code; call only from a frame that holds nothing.
inline mpm_Status issue(const Failure &failure) { return failure.issue(); }

}  // namespace tesmar
