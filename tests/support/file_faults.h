// The tests' seam in the host's file layer: host/kernel/file.cpp, compiled into the test
// executable with KVNTF_FILE_FAULTS (file_faults.cpp), asks fault() before each write,
// sync, link and rename; fault() counts the calls of each kind and makes the armed one
// fail with the armed errno. With `named_only` the file system seems to have no unnamed
// files (kUnnamed fails), so saves take the named temporary.
#pragma once

#include <cerrno>

namespace file_faults {

enum class Call { kWrite, kSync, kLink, kRename, kUnnamed, kKinds };

struct State {
  int calls[int(Call::kKinds)] = {};
  Call armed = Call::kKinds;
  int at = 0, error = 0;
  bool named_only = false;
};

inline State& state() {
  static State s;
  return s;
}

// Counts from zero again; the `at`-th call of `call` (from 1) fails with `error`.
inline void arm(Call call = Call::kKinds, int at = 0, int error = 0) {
  state() = State{{}, call, at, error, state().named_only};
}

inline int calls(Call call) {
  return state().calls[int(call)];
}

inline int fault(Call call) {
  State& s = state();
  const int n = ++s.calls[int(call)];
  if (call == Call::kUnnamed) return s.named_only ? EOPNOTSUPP : 0;
  return call == s.armed && n == s.at ? s.error : 0;
}

}  // namespace file_faults
