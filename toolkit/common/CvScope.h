// Scope guards for state that a call changes for its own length only: the
// old state comes back, or the clean-up runs, when the scope ends, on
// exceptions too.
#pragma once

#include <cstdint>
#include <utility>

#include "toolkit/common/CvStream.h"

namespace corvane {

// Gives a variable a value for the life of the guard.
template <class T>
class TCvScopedValue {
 public:
  TCvScopedValue(T& target, T value) : target_(target), saved_(std::move(target)) {
    target_ = std::move(value);
  }
  ~TCvScopedValue() { target_ = std::move(saved_); }
  TCvScopedValue(const TCvScopedValue&) = delete;
  TCvScopedValue& operator=(const TCvScopedValue&) = delete;

 private:
  T& target_;
  T saved_;
};

// Runs a clean-up step when the scope ends, however it ends.
template <class F>
class TCvScopeExit {
 public:
  explicit TCvScopeExit(F f) : f_(std::move(f)) {}
  ~TCvScopeExit() { f_(); }
  TCvScopeExit(const TCvScopeExit&) = delete;
  TCvScopeExit& operator=(const TCvScopeExit&) = delete;

 private:
  F f_;
};

// Puts a stream back where it was.
class TCvPositionGuard {
 public:
  explicit TCvPositionGuard(TOvStream& stream) : stream_(stream), saved_(stream.Position()) {}
  ~TCvPositionGuard() {
    try {
      stream_.SetPosition(saved_);
    } catch (...) {
      // A stream that cannot seek back has already reported its failure.
    }
  }
  TCvPositionGuard(const TCvPositionGuard&) = delete;
  TCvPositionGuard& operator=(const TCvPositionGuard&) = delete;

 private:
  TOvStream& stream_;
  int64_t saved_;
};

}  // namespace corvane
