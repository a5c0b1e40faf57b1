// The preview's side of a session with the GNU Rocket editor: one track per float, int and bool
// variable of the script's effects ("Effect:Variable"), the editor's keys standing in for the
// script's, the editor's cursor and pause driving the preview, and saving into the script.
#pragma once

#include "rocket/RocketProtocol.h"
#include "rocket/RocketSocket.h"
#include "rocket/RocketTrack.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace rocket {

// What the editor may do to the preview.
class Transport {
  public:
    virtual ~Transport() = default;
    virtual void jumpTo(int64_t time) = 0; // the preview's exact jump
    virtual void play(bool playing) = 0;
    virtual void redraw() = 0; // the paused frame again, with the new keys
    virtual void reloadScript() = 0;
};

// An editor may hold at most this many keys at a time; one more closes the connection.
constexpr size_t kMaxHeldKeys = 1000000;

class Link {
  public:
    // `rowMs` 0: a quarter of the script's DEMO_BEAT. `scriptPath` empty: nowhere to save.
    Link(std::string host, uint16_t port, double rowMs, std::string scriptPath);

    // Every line the link has for the author (connections, saves and refused saves, tracks the
    // demo does not have, refused jumps) goes to stderr and, once each, to this sink: the
    // preview's overlay shows them.
    using MessageSink = std::function<void(const std::string& message)>;
    void setMessageSink(MessageSink sink);

    // After every script load (a reload, and the load each jump makes): every variable of the new
    // effects follows its track, and tracks the editor has not been asked for yet are.
    void effectsLoaded();
    // The author reloaded: keys kept from an editor that went away are dropped.
    void scriptReloaded();
    // Once a frame: connects, reads the editor, applies its commands. True when the title changes.
    bool poll(Transport& transport, bool playing);
    // A frame of demo time `time` is on screen (a jump's progress frames too): while playing the
    // editor hears the row.
    void frameShown(int64_t time, bool playing);
    // The preview jumped on its own (its keys, a reload) to `time`: the editor's cursor follows,
    // paused or not.
    void moved(int64_t time);
    // The preview stopped at the demo's end. The protocol has no way for a demo to pause the
    // editor, but the editor pauses whenever a demo connects: the link connects again, and the
    // editor's first row, the one the preview reported last, is not taken for a jump.
    void demoEnded();
    // Writes the tracks into the script and reloads; false (with the reason) if not.
    bool save(Transport& transport);

    std::string title() const;
    double rowMs() const;
    // Latency and frame figures for HOLDFAST_STATS.
    void printStats() const;

  private:
    void connected();
    void drop(std::string why, bool protocolFault); // by value: it may be the decoder's own error
    void request(const std::string& name);
    void say(const std::string& line, const std::string& title);
    void tell(const std::string& line); // stderr and the sink
    void checkStrayTracks();
    bool writeScript(const std::string& text, unsigned mode, std::string& why) const;
    std::string address() const;

    std::string host_;
    uint16_t port_;
    double rowOption_;
    double rowMs_ = 25.0;
    std::string scriptPath_;

    Socket socket_;
    Decoder decoder_;
    enum class State { Idle, Connecting, Greeting, Live } state_ = State::Idle;
    std::chrono::steady_clock::time_point nextTry_{};
    std::chrono::steady_clock::time_point greetingSince_{};
    bool everConnected_ = false;
    bool keptFromLostEditor_ = false;

    std::map<std::string, std::unique_ptr<LiveTrack>> tracks_;
    std::vector<std::string> bound_;    // names of the loaded effects' variables, in order
    std::vector<LiveTrack*> requested_; // the editor's track index -> track, this connection
    std::map<std::string, size_t> requestedIndex_;
    std::set<std::string> boundNames_;
    int64_t lastRow_ = -1;
    int64_t rowOnReconnect_ = -1; // the row not to jump to on the connection demoEnded makes
    bool reconnecting_ = false;   // that connection is being made: a failure is the editor gone
    bool pastEndSaid_ = false;    // the editor's rows past the demo's end, said once a connection
    std::string strayTracks_;     // the tracks last said not to be in the demo

    std::string title_, lastSaid_;
    MessageSink sink_;

    // Figures.
    bool editWaiting_ = false;
    std::chrono::steady_clock::time_point editAt_{};
    long editFrame_ = 0; // frames shown before the edit arrived
    long edits_ = 0, editsLate_ = 0;
    double latencySum_ = 0, latencyMax_ = 0;
    long frames_ = 0;
    double longestGapMs_ = 0; // between frames shown (a paused preview shows none: it counts too)
    std::chrono::steady_clock::time_point firstFrame_{}, lastFrame_{};
    std::clock_t firstFrameCpu_ = 0; // the process's CPU time when the first frame was shown
};

} // namespace rocket
