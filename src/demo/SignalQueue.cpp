#include "demo/SignalQueue.h"

#include <algorithm>

SignalQueue* signalQueue = nullptr;

void SignalQueue::clear() {
    signals.clear();
    cursor = 0;
}

void SignalQueue::add(const Signal& s) {
    signals.push_back(s);
}

void SignalQueue::sortAndRewind() {
    // Unsigned like the due test: a negative time sorts last instead of blocking the queue
    // in front of signals that are due.
    std::stable_sort(signals.begin(), signals.end(), [](const Signal& a, const Signal& b) {
        return static_cast<unsigned>(a.time) < static_cast<unsigned>(b.time);
    });
    cursor = 0;
}

bool SignalQueue::isDue(int time) const {
    return cursor < signals.size() &&
           static_cast<unsigned>(signals[cursor].time) <= static_cast<unsigned>(time);
}

const Signal& SignalQueue::next() {
    return signals[cursor++];
}
