#pragma once
// Runs a clean-up when the scope ends, on every return path, for what no handle owner covers.
#include <utility>

namespace vantile {

template <class Function>
class [[nodiscard]] ScopeExit {
  public:
    explicit ScopeExit(Function function) : function_(std::move(function)) {}
    ~ScopeExit() { function_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

  private:
    Function function_;
};

}  // namespace vantile
