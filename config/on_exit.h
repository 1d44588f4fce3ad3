#pragma once
// Runs an action when the scope ends, by return or by exception: configuration
// loading publishes what it has built also when a library error leaves
// half-way, because the tables must then hold what came before the error.
#include <utility>

namespace kvrm {

template <class Action>
class OnExit {
public:
  explicit OnExit(Action action) : action_(std::move(action)) {}
  ~OnExit() { action_(); }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

private:
  Action action_;
};

}  // namespace kvrm
