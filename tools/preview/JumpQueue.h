// Jump keys pressed in a row make one jump: each key's target counts from the one before it (ten
// PageDowns go 100 s ahead), the jump starts once the keys have paused, and keys that come while
// it replays the timeline take it to their target instead of queueing jumps of their own.
#pragma once

#include <chrono>
#include <cstdint>

namespace preview {

class JumpQueue {
  public:
    using Clock = std::chrono::steady_clock;
    // Keys closer together than this are one burst (a key's autorepeat comes every 30-40 ms).
    static constexpr std::chrono::milliseconds kSettle{60};

    // Where a key that moves relative to the current time counts from: the target still to be
    // reached, else `current`.
    int64_t base(int64_t current) const { return pending ? target : current; }
    void push(int64_t t) {
        target = t;
        pending = true;
        lastKey = Clock::now();
    }
    bool hasPending() const { return pending; }
    // The target to go to, once no key has come for kSettle (`now`: the wait is over at once).
    bool take(int64_t& t, bool now = false) {
        if (!pending || (!now && Clock::now() - lastKey < kSettle)) return false;
        pending = false;
        t = target;
        return true;
    }

  private:
    bool pending = false;
    int64_t target = 0;
    Clock::time_point lastKey{};
};

} // namespace preview
