// holdfast-capture's command line and the times it asks for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace capture {

struct Options {
    std::string data;
    std::string password = "tolvrask";
    std::string music;
    std::string out;
    std::string sheet;
    std::string video;
    std::vector<uint32_t> times; // an explicit list, sorted
    bool range = false;
    uint32_t from = 0, to = 0, step = 0;
    int fps = 60;
    bool sparse = false;
    uint64_t limit = 0; // 0: no limit
    int columns = 8;
};

// Prints the problem (when given) and the usage to stderr; returns the exit code 2.
int usage(const char* problem);

// The requested times in increasing order, made one at a time: a range of two billion times
// costs no memory.
class RequestedTimes {
  public:
    explicit RequestedTimes(const Options& o);
    uint64_t count() const;
    bool next(uint32_t& t);

  private:
    const Options& options;
    uint64_t next64;
    size_t index = 0;
};

// 0 when the options are complete, -1 after --help or --version, else the exit code of the
// usage message already shown.
int parseOptions(int argc, char** argv, Options& o);

} // namespace capture
