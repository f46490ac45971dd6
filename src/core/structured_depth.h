// How deep records and collections nest while one thread walks them.
//
// Records and collections can contain themselves. Every walk that recurses
// through them (serialization, cloning, description, equality, hashing, XML)
// holds a guard per level and stops with its empty result past the JSON
// layer's depth, so a cycle costs a bounded walk instead of the stack.
#pragma once

#include <qn/core/json.h>

namespace qn::internal {

class StructuredDepthGuard {
public:
    StructuredDepthGuard() noexcept : ok_(++depth() <= QNJSON::kMaxDepth) {}
    ~StructuredDepthGuard() { --depth(); }
    StructuredDepthGuard(const StructuredDepthGuard&) = delete;
    StructuredDepthGuard& operator=(const StructuredDepthGuard&) = delete;

    // False past the limit: the walk must not go deeper.
    bool ok() const noexcept { return ok_; }

private:
    static int& depth() noexcept {
        thread_local int level = 0;
        return level;
    }
    bool ok_;
};

}  // namespace qn::internal
