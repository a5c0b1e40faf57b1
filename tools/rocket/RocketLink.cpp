#include "rocket/RocketLink.h"

#include "demo/DemoState.h"
#include "demo/Effect.h"
#include "demo/EffectList.h"
#include "host/FrameLoop.h"
#include "platform/ReplacingFile.h"
#include "rocket/RocketSave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>

namespace rocket {

namespace {
using Clock = std::chrono::steady_clock;
// How often a missing editor is looked for again, and how long its greeting may take.
constexpr auto kRetry = std::chrono::seconds(1);
constexpr auto kGreetingWait = std::chrono::seconds(5);
// Read at most this much a frame, so an editor that floods cannot hold the frame loop.
constexpr size_t kReadPerFrame = 1 << 16;

bool tracked(const Variable& v) {
    return !v.stringValued && (v.kind == KindFloat || v.kind == KindBool || v.kind == KindInt);
}
} // namespace

Link::Link(std::string host, uint16_t port, double rowMs, std::string scriptPath)
    : host_(std::move(host)), port_(port), rowOption_(rowMs), scriptPath_(std::move(scriptPath)) {}

void Link::setMessageSink(MessageSink sink) {
    sink_ = std::move(sink);
}

std::string Link::title() const {
    return title_;
}

double Link::rowMs() const {
    return rowMs_;
}

std::string Link::address() const {
    return host_ + ":" + std::to_string(port_);
}

void Link::tell(const std::string& line) {
    fprintf(stderr, "holdfast-preview: rocket: %s\n", line.c_str());
    if (sink_) sink_(line);
}

void Link::say(const std::string& line, const std::string& title) {
    if (line != lastSaid_) tell(line);
    lastSaid_ = line;
    title_ = title;
}

void Link::checkStrayTracks() {
    // The editor's tracks for what the demo no longer has (an effect renamed or removed since the
    // tracks were asked for): their keys are not applied, and not saved.
    std::string names;
    size_t count = 0;
    for (const auto& entry : requestedIndex_) {
        if (boundNames_.count(entry.first) || requested_[entry.second]->track.empty()) continue;
        if (++count <= 5) names += (names.empty() ? "" : ", ") + entry.first;
    }
    if (count > 5) names += " and " + std::to_string(count - 5) + " more";
    if (names != strayTracks_ && !names.empty())
        tell("the editor holds keys for " + names + ", which the demo does not have: not applied, not saved");
    strayTracks_ = names;
}

void Link::effectsLoaded() {
    rowMs_ = rowOption_ > 0 ? rowOption_ : (beatLength > 0 ? beatLength / 4.0 : 25.0);
    bound_.clear();
    if (!effectList) return;
    std::set<std::string> seen;
    for (Effect* effect : effectList->effects()) {
        // A second effect of the same name is out of the script's reach too.
        if (!seen.insert(effect->name).second) continue;
        for (Variable* v : effect->variables) {
            if (!tracked(*v)) continue;
            const std::string name = effect->name + ":" + v->name;
            std::unique_ptr<LiveTrack>& track = tracks_[name];
            if (!track) track = std::make_unique<LiveTrack>();
            track->rowMs = rowMs_;
            track->trackEnd = trackEndTime;
            track->kind = v->kind;
            v->override = track.get();
            bound_.push_back(name);
            if (state_ == State::Live && !requestedIndex_.count(name)) request(name);
        }
    }
    boundNames_ = std::set<std::string>(bound_.begin(), bound_.end());
    if (state_ == State::Live) checkStrayTracks();
}

void Link::scriptReloaded() {
    if (state_ == State::Live || !keptFromLostEditor_) return;
    for (auto& entry : tracks_)
        entry.second->track.clear();
    keptFromLostEditor_ = false;
    say("the script alone now: the lost editor's keys are dropped",
        "rocket: no editor at " + address() + ", script only");
}

void Link::request(const std::string& name) {
    requestedIndex_[name] = requested_.size();
    requested_.push_back(tracks_[name].get());
    std::string error;
    if (!socket_.send(encodeGetTrack(name), error)) drop(error, false);
}

void Link::connected() {
    state_ = State::Live;
    everConnected_ = true;
    reconnecting_ = false;
    keptFromLostEditor_ = false;
    lastRow_ = -1;
    pastEndSaid_ = false;
    strayTracks_.clear();
    // The editor sends every key of a track it is asked for: start from its keys alone.
    for (auto& entry : tracks_)
        entry.second->track.clear();
    requested_.clear();
    requestedIndex_.clear();
    const std::vector<std::string> names = bound_;
    // The editor starts a document with 128 rows and shows no row past its count.
    char rows[160];
    snprintf(rows, sizeof rows,
             "the demo is %.0f rows of %g ms long: set the editor to that many (Edit > Set Rows)",
             std::floor(demoRunEnd() / rowMs_) + 1, rowMs_);
    say("connected to the editor at " + address() + ", " + std::to_string(names.size()) + " tracks; " + rows,
        "rocket " + address());
    for (const std::string& name : names) {
        if (state_ != State::Live) return;
        request(name);
    }
}

void Link::drop(std::string why, bool protocolFault) {
    const bool wasLive = state_ == State::Live || reconnecting_;
    reconnecting_ = false;
    socket_.close();
    decoder_.reset();
    state_ = State::Idle;
    nextTry_ = Clock::now() + kRetry;
    requested_.clear();
    requestedIndex_.clear();
    rowOnReconnect_ = -1;
    if (protocolFault) {
        keptFromLostEditor_ = true;
        say("closed the connection to the editor: " + why, "rocket: closed, " + why);
    } else if (wasLive) {
        keptFromLostEditor_ = true;
        say("the editor at " + address() + " went away (" + why + "); its last keys stay until a reload",
            "rocket: editor gone, last keys kept");
    } else if (!everConnected_) {
        say("no editor at " + address() + " (" + why + "); the script alone, looking again every second",
            "rocket: no editor at " + address() + ", script only");
    }
}

bool Link::poll(Transport& transport, bool playing) {
    const std::string titleBefore = title_;
    std::string error;
    if (state_ == State::Idle && Clock::now() >= nextTry_) {
        nextTry_ = Clock::now() + kRetry;
        if (socket_.connect(host_, port_, error)) {
            state_ = State::Connecting;
        } else {
            drop(error, false);
        }
    }
    if (state_ == State::Connecting) {
        const Socket::State s = socket_.state(error);
        if (s == Socket::State::Closed) {
            drop(error, false);
        } else if (s == Socket::State::Connected) {
            if (socket_.send(kClientGreeting, error)) {
                state_ = State::Greeting;
                greetingSince_ = Clock::now();
            } else {
                drop(error, false);
            }
        }
    }
    if (state_ != State::Greeting && state_ != State::Live) return title_ != titleBefore;

    bool keysChanged = false, jump = false, pauseSeen = false, saveAsked = false;
    uint32_t jumpRow = 0;
    bool paused = !playing;
    uint8_t buffer[4096];
    size_t readNow = 0;
    while (readNow < kReadPerFrame) {
        const long n = socket_.receive(buffer, sizeof buffer, error);
        if (n < 0) {
            drop(error, false);
            break;
        }
        if (n == 0) break;
        readNow += static_cast<size_t>(n);
        decoder_.feed(buffer, static_cast<size_t>(n));
        Message m;
        Decoder::Result r;
        while ((r = decoder_.next(m)) == Decoder::Result::Message) {
            if (state_ == State::Greeting) connected();
            if (state_ != State::Live) break;
            if (m.command == SetKey || m.command == DeleteKey) {
                if (m.track >= requested_.size()) {
                    drop("the editor sent a key for track " + std::to_string(m.track) +
                             ", which the demo never asked for",
                         true);
                    break;
                }
                Track& track = requested_[m.track]->track;
                if (m.command == SetKey)
                    track.setKey({m.row, m.value, m.interpolation});
                else
                    track.deleteKey(m.row);
                keysChanged = true;
            } else if (m.command == SetRow) {
                // The row the editor sends when the link connected again at the demo's end is
                // where the preview already is.
                const bool echo = rowOnReconnect_ >= 0 && m.row == rowOnReconnect_;
                rowOnReconnect_ = -1;
                if (echo) {
                    lastRow_ = m.row;
                    continue;
                }
                jump = true;
                jumpRow = m.row;
            } else if (m.command == Pause) {
                pauseSeen = true;
                paused = m.paused;
            } else if (m.command == SaveTracks) {
                saveAsked = true;
            }
        }
        if (state_ == State::Greeting && decoder_.greeted()) connected();
        if (r == Decoder::Result::Error) {
            drop(decoder_.error(), true);
            break;
        }
        if (state_ != State::Live && state_ != State::Greeting) break;
    }
    if (state_ == State::Greeting && Clock::now() - greetingSince_ > kGreetingWait)
        drop("no greeting from " + address() + " within 5 s", true);
    if (keysChanged && state_ == State::Live) {
        // Counting merges the keys that came this frame into their tracks.
        size_t held = 0;
        for (const LiveTrack* track : requested_)
            held += track->track.size();
        if (held > kMaxHeldKeys)
            drop("the editor sent more than " + std::to_string(kMaxHeldKeys) + " keys", true);
        else
            checkStrayTracks();
    }

    if (keysChanged && !editWaiting_) {
        editWaiting_ = true;
        editAt_ = Clock::now();
        editFrame_ = frames_;
    }
    if (pauseSeen && paused == playing) transport.play(!paused);
    if (jump) {
        lastRow_ = jumpRow;
        // A row past the demo's end (the editor's cursor moved further than the demo runs) would
        // replay the whole demo for nothing.
        if (static_cast<double>(jumpRow) * rowMs_ > static_cast<double>(demoRunEnd())) {
            if (!pastEndSaid_)
                tell("the editor's row " + std::to_string(jumpRow) + " lies past the demo's end (row " +
                     std::to_string(static_cast<uint64_t>(demoRunEnd() / rowMs_)) + "): not jumping there");
            pastEndSaid_ = true;
            jump = false;
        } else {
            transport.jumpTo(rowTime(jumpRow, rowMs_));
        }
    }
    if (!jump && keysChanged && paused) {
        transport.redraw();
    }
    if (saveAsked) save(transport);
    return title_ != titleBefore;
}

void Link::frameShown(int64_t time, bool playing) {
    const auto now = Clock::now();
    if (frames_++ == 0) {
        firstFrame_ = now;
        firstFrameCpu_ = std::clock();
    } else {
        longestGapMs_ =
            std::max(longestGapMs_, std::chrono::duration<double, std::milli>(now - lastFrame_).count());
    }
    lastFrame_ = now;
    if (editWaiting_) {
        const double ms = std::chrono::duration<double, std::milli>(now - editAt_).count();
        ++edits_;
        latencySum_ += ms;
        latencyMax_ = std::max(latencyMax_, ms);
        if (frames_ > editFrame_ + 1) ++editsLate_; // a frame went out without the edit
        editWaiting_ = false;
    }
    if (!playing || state_ != State::Live) return;
    const int64_t row = static_cast<int64_t>(std::floor(static_cast<double>(time) / rowMs_));
    if (row == lastRow_ || row < 0 || row > UINT32_MAX) return;
    lastRow_ = row;
    std::string error;
    if (!socket_.send(encodeSetRow(static_cast<uint32_t>(row)), error)) drop(error, false);
}

void Link::moved(int64_t time) {
    if (state_ != State::Live) return;
    const int64_t row = static_cast<int64_t>(std::floor(static_cast<double>(time) / rowMs_));
    if (row == lastRow_ || row < 0 || row > UINT32_MAX) return;
    lastRow_ = row;
    std::string error;
    if (!socket_.send(encodeSetRow(static_cast<uint32_t>(row)), error)) drop(error, false);
}

void Link::demoEnded() {
    if (state_ != State::Live) return;
    say("the demo's end: connecting again, so that the editor pauses",
        "rocket: the demo's end, connecting again");
    reconnecting_ = true;
    socket_.close();
    decoder_.reset();
    requested_.clear();
    requestedIndex_.clear();
    state_ = State::Idle;
    nextTry_ = Clock::now();
    rowOnReconnect_ = lastRow_;
}

bool Link::writeScript(const std::string& text, unsigned mode, std::string& why) const {
    // Written beside and renamed over, so a failed write never leaves half a script; the new
    // file takes the old one's permissions.
    platform::ReplacingFile file(scriptPath_);
    FILE* stream = file.begin(&why) ? file.stream() : nullptr;
    if (!stream) return false;
    if (fchmod(fileno(stream), static_cast<mode_t>(mode)) != 0) {
        why = strerror(errno);
        return false;
    }
    return std::fwrite(text.data(), 1, text.size(), stream) == text.size() && file.commit(&why);
}

bool Link::save(Transport& transport) {
    const std::string nothing = "; nothing saved, the script stays as it was";
    if (state_ != State::Live) {
        // Without an editor there are no tracks to save: writing would empty the block.
        tell("no editor connected" + nothing);
        return false;
    }
    if (scriptPath_.empty()) {
        tell("the script is inside an archive" + nothing);
        return false;
    }
    // Saving replaces the script by renaming over it: only a regular file may go that way (a link
    // would become a copy, a FIFO would block the read).
    struct stat st;
    if (!platform::replaceableOutput(scriptPath_.c_str()) || lstat(scriptPath_.c_str(), &st) != 0) {
        tell(scriptPath_ + " is not a regular file" + nothing);
        return false;
    }
    // A script made read-only is not to be replaced, even by a user the permissions do not stop.
    if ((st.st_mode & 0222) == 0 || access(scriptPath_.c_str(), W_OK) != 0) {
        tell(scriptPath_ + " is read-only" + nothing);
        return false;
    }
    std::ifstream in(scriptPath_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) {
        tell("cannot read " + scriptPath_ + nothing);
        return false;
    }
    std::vector<SavedTrack> saved;
    std::set<std::string> seen;
    if (effectList)
        for (Effect* effect : effectList->effects()) {
            if (!seen.insert(effect->name).second) continue;
            for (Variable* v : effect->variables) {
                if (!tracked(*v)) continue;
                auto it = tracks_.find(effect->name + ":" + v->name);
                if (it == tracks_.end()) continue;
                saved.push_back(
                    {effect->name, v->name, v->kind, v->count, &it->second->track, v->listId != NoList});
            }
        }
    const SaveResult result = writeTracks(text.str(), saved, rowMs_, trackEndTime);
    if (!result.refused.empty()) {
        tell(result.refused + nothing);
        return false;
    }
    size_t keyed = 0;
    for (const SavedTrack& s : saved)
        keyed += !s.track->empty();
    std::string kept;
    if (!result.kept.empty()) {
        for (const std::string& name : result.kept)
            kept += (kept.empty() ? "" : ", ") + name;
        kept = "; kept the last save's keys of " + kept +
               ", which the editor holds none of (delete their lines from the block to drop them)";
    }
    if (result.text == text.str()) {
        tell("the script already holds the editor's " + std::to_string(keyed) + " tracks: nothing to write" +
             kept);
        return true;
    }
    std::string why;
    if (!writeScript(result.text, st.st_mode & 07777, why)) {
        tell("cannot write " + scriptPath_ + (why.empty() ? "" : ": ") + why + nothing);
        return false;
    }
    tell("saved " + std::to_string(keyed) + " tracks into " + scriptPath_ + kept);
    transport.reloadScript();
    return true;
}

void Link::printStats() const {
    const double seconds = std::chrono::duration<double>(lastFrame_ - firstFrame_).count();
    fprintf(stderr,
            "holdfast-preview: rocket stats: tracks=%zu edits=%ld edits_late=%ld edit_to_frame_mean_ms=%.2f "
            "edit_to_frame_max_ms=%.2f frames=%ld fps=%.1f cpu_per_frame_us=%.1f longest_gap_ms=%.0f\n",
            bound_.size(), edits_, editsLate_, edits_ ? latencySum_ / edits_ : 0.0, latencyMax_, frames_,
            seconds > 0 && frames_ > 1 ? (frames_ - 1) / seconds : 0.0,
            frames_ > 1
                ? static_cast<double>(std::clock() - firstFrameCpu_) * 1e6 / CLOCKS_PER_SEC / (frames_ - 1)
                : 0.0,
            longestGapMs_);
}

} // namespace rocket
