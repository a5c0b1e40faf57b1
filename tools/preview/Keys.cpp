// The preview's keys: jumps (several in a row make one), pause, the loop span, reload, typing a
// time after G, and the keys that come while a jump replays the timeline.
#include "preview/Preview.h"

#include "demo/DemoState.h"
#include "preview/TypedTime.h"

namespace preview {

void Preview::handleKey(platform::Key key) {
    if (typing) {
        typeKey(key);
        return;
    }
    int64_t target = 0;
    if (jumpTarget(key, jumps.base(now()), target)) {
        jumps.push(target);
        return;
    }
    const int64_t t = now();
    switch (key) {
    case platform::Key::Escape:
        quit = true;
        break;
    case platform::Key::Space:
        setPlaying(!playing);
        break;
    case platform::Key::LeftBracket:
        loopStart = t;
        loopJumpSaid = false;
        titleDirty = true;
        break;
    case platform::Key::RightBracket:
        loopEnd = t;
        loopJumpSaid = false;
        titleDirty = true;
        break;
    case platform::Key::L:
        looping = !looping && loopEnd > loopStart;
        loopJumpSaid = false;
        if (looping && (t < loopStart || t >= loopEnd)) jump(loopStart);
        titleDirty = true;
        break;
    case platform::Key::R:
        reload({}, true);
        break;
    case platform::Key::H:
        overlay.toggle();
        break;
    case platform::Key::G:
        typing = true;
        typed.clear();
        titleDirty = true;
        break;
    case platform::Key::S:
        if (rocket) rocket->save(*this);
        break;
    default:
        break;
    }
}

// The target of a key that jumps, counted from `base`; false for the other keys.
bool Preview::jumpTarget(platform::Key key, int64_t base, int64_t& target) const {
    switch (key) {
    case platform::Key::Left:
        target = base - 1000;
        return true;
    case platform::Key::Right:
        target = base + 1000;
        return true;
    case platform::Key::PageUp:
        target = base - 10000;
        return true;
    case platform::Key::PageDown:
        target = base + 10000;
        return true;
    case platform::Key::Home:
        target = demoStartTime;
        return true;
    case platform::Key::Up: {
        // The start of the part playing, or of the one before within a part's first second.
        target = demoStartTime;
        for (const TimelineSection& s : sections)
            if (s.time <= base - 1000) target = s.time;
        return true;
    }
    case platform::Key::Down:
        for (const TimelineSection& s : sections)
            if (s.time > base) {
                target = s.time;
                return true;
            }
        return false; // in the last part: nowhere to go
    default:
        return false;
    }
}

// Input while a jump replays the timeline: jump keys move its target, other keys wait for
// the jump to end, a quit ends it.
int64_t Preview::takeKeysDuringJump(int64_t target) {
    platform::Event event;
    while (platform::pollEvent(event)) {
        if (event.type == platform::EventType::Quit || event.type == platform::EventType::CloseRequest) {
            quit = true;
        } else if (event.type == platform::EventType::KeyDown) {
            int64_t to = 0;
            if (!typing && keysDuringJump.empty() && jumpTarget(event.key, jumps.base(target), to))
                jumps.push(to);
            else if (event.key == platform::Key::Escape && !typing)
                quit = true;
            else
                keysDuringJump.push_back(event.key);
        }
    }
    int64_t to = target;
    jumps.take(to, true);
    return to;
}

// A key while a time is typed into the title (after G).
void Preview::typeKey(platform::Key key) {
    titleDirty = true;
    const int k = static_cast<int>(key), zero = static_cast<int>(platform::Key::Digit0);
    const bool room = typed.size() < 16;
    if (k >= zero && k <= zero + 9) {
        if (room) typed += static_cast<char>('0' + (k - zero));
    } else if (key == platform::Key::Period) {
        if (room) typed += '.';
    } else if (key == platform::Key::Colon) {
        if (room) typed += ':';
    } else if (key == platform::Key::Backspace) {
        if (!typed.empty()) typed.pop_back();
    } else if (key == platform::Key::Escape) {
        typing = false;
    } else if (key == platform::Key::Return) {
        int64_t t = 0;
        if (preview::parseTypedTime(typed, t)) {
            typing = false;
            jumps.push(t);
        } else {
            typedProblem = true;
            return;
        }
    }
    typedProblem = false;
}

} // namespace preview
