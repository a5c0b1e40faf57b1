// Error reporting: every problem in the program is reported through these functions.
// A report names the source file and line of the reporting code; fatal reports end the
// process with exit code 1 through the normal exit path, so exit handlers still run.
#pragma once

#include <stdexcept>
#include <string>

void reportError(const char* file, int line, const char* message, bool fatal);
void reportErrorInt(const char* file, int line, const char* message, int value, bool fatal);
void reportErrorText(const char* file, int line, const char* message, const char* text, bool fatal);
void checkAssert(bool condition, const char* file, int line);
void checkGLError(const char* file, int line);

// Name shown for a glGetError value ("GL_INVALID_ENUM", ..., "Unknown error").
const char* glErrorName(unsigned int error);

namespace report {

enum class BoxStyle { Ok, IconHand, IconInformation, IconExclamation };

// Shows one notice (message box where one can be shown, always also on stderr) and,
// when fatal, ends the process with exit code 1. All boxes of the program go through here.
void showBox(const char* caption, const std::string& text, BoxStyle style, bool fatal);

// Yes/No question; unattended runs take the default answer without blocking.
bool askYesNo(const char* caption, const std::string& text, bool defaultAnswer);

// Formats printf-style into a string of any length (no fixed buffer to overrun).
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Observer for tests and tools: sees every box (caption, text, fatal) before it is shown.
struct Record {
    std::string caption;
    std::string text;
    bool fatal;
};
using Sink = void (*)(const Record&);
// Returns the sink it replaces.
Sink setSink(Sink sink);
// Whether notices are also printed on stderr (they are unless a tool that prints them its own way
// says otherwise); returns the previous setting.
bool setEcho(bool echo);
// What the stderr copy of a notice gets after its text (the script line behind it, say); the box
// shows the text alone. Returns the one it replaces.
using EchoNote = std::string (*)(const Record&);
EchoNote setEchoNote(EchoNote note);

// A fatal report made while a FatalGuard lives, thrown instead of ending the process.
class FatalError : public std::runtime_error {
  public:
    explicit FatalError(const Record& r) : std::runtime_error(r.text), record(r) {}
    Record record;
};

// While one lives (on this thread), a fatal report is printed to stderr and thrown as FatalError
// instead of showing a box and ending the process: a tool that reloads a demo after an edit
// keeps the demo it has when the new one is broken. Nests.
class FatalGuard {
  public:
    FatalGuard();
    ~FatalGuard();
    FatalGuard(const FatalGuard&) = delete;
    FatalGuard& operator=(const FatalGuard&) = delete;
};

} // namespace report
