// Sets a flag for the life of a scope and clears it on every way out; the
// refresh and build guards use it so an early return cannot leave one set.
#pragma once

class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;
    ~FlagScope() { flag_ = false; }

private:
    bool& flag_;
};
