#pragma once
// Runs a clean-up however the enclosing scope ends, on the normal and the failure path alike:
// the one way the program puts back busy flags, time limits, prompts and open ports.
// The clean-up must not throw (it may run while an exception unwinds).

#include <utility>

template <typename F> class TScopeGuard {
public:
    explicit TScopeGuard(F cleanup) : FCleanup(std::move(cleanup)) {}
    ~TScopeGuard() { FCleanup(); }

    TScopeGuard(const TScopeGuard&) = delete;
    TScopeGuard& operator=(const TScopeGuard&) = delete;

private:
    F FCleanup;
};
