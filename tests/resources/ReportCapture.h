// Collects every report box while in scope, so tests can check messages and fatal flags.
#pragma once

#include "base/Report.h"

#include <cstdlib>
#include <string>
#include <vector>

class ReportCapture {
  public:
    ReportCapture() {
        records().clear();
        report::setSink(&collect);
    }
    ~ReportCapture() { report::setSink(nullptr); }

    const std::vector<report::Record>& all() const { return records(); }
    // True when some report's text ends with `message` (texts start with the source position).
    bool has(const std::string& message, bool fatal = false) const {
        for (const auto& r : records())
            if (r.fatal == fatal && r.text.size() >= message.size() &&
                r.text.compare(r.text.size() - message.size(), message.size(), message) == 0)
                return true;
        return false;
    }

  private:
    static std::vector<report::Record>& records() {
        static std::vector<report::Record> list;
        return list;
    }
    static void collect(const report::Record& r) { records().push_back(r); }
};

// Fatal reports must never wait for a click in these tests.
inline const bool unattendedForTests = [] { return setenv("HOLDFAST_UNATTENDED", "1", 0) == 0; }();
