#include "base/Report.h"

#include "platform/GL.h"
#include "platform/Platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace report {
namespace {
Sink currentSink = nullptr;
bool echoToStderr = true;
EchoNote echoNote = nullptr;
thread_local int guardDepth = 0;

platform::BoxIcon iconFor(BoxStyle style) {
    switch (style) {
    case BoxStyle::IconHand:
        return platform::BoxIcon::Error;
    case BoxStyle::IconInformation:
        return platform::BoxIcon::Information;
    case BoxStyle::IconExclamation:
        return platform::BoxIcon::Warning;
    case BoxStyle::Ok:
        break;
    }
    return platform::BoxIcon::None;
}
} // namespace

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<size_t>(length) + 1);
        vsnprintf(&text[0], text.size(), fmt, args);
        text.resize(static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

Sink setSink(Sink sink) {
    Sink previous = currentSink;
    currentSink = sink;
    return previous;
}

bool setEcho(bool echo) {
    const bool previous = echoToStderr;
    echoToStderr = echo;
    return previous;
}

EchoNote setEchoNote(EchoNote note) {
    EchoNote previous = echoNote;
    echoNote = note;
    return previous;
}

FatalGuard::FatalGuard() {
    ++guardDepth;
}
FatalGuard::~FatalGuard() {
    --guardDepth;
}

void showBox(const char* caption, const std::string& text, BoxStyle style, bool fatal) {
    if (currentSink) currentSink(Record{caption, text, fatal});
    if (echoToStderr) {
        const std::string note = echoNote ? echoNote(Record{caption, text, fatal}) : std::string();
        fprintf(stderr, "%s: %s%s\n", caption, text.c_str(), note.c_str());
        fflush(stderr);
    }
    if (fatal && guardDepth > 0) throw FatalError(Record{caption, text, fatal});
    platform::messageBox(caption, text.c_str(), iconFor(style));
    if (fatal) exit(1);
}

bool askYesNo(const char* caption, const std::string& text, bool defaultAnswer) {
    if (currentSink) currentSink(Record{caption, text, false});
    bool answer = platform::askYesNo(caption, text.c_str(), defaultAnswer);
    fprintf(stderr, "%s: %s -> %s\n", caption, text.c_str(), answer ? "Yes" : "No");
    fflush(stderr);
    return answer;
}

} // namespace report

namespace {
void deliver(const std::string& text, bool fatal) {
    report::showBox("error", text, fatal ? report::BoxStyle::IconHand : report::BoxStyle::Ok, fatal);
}
} // namespace

void reportError(const char* file, int line, const char* message, bool fatal) {
    deliver(report::format("%s:%d %s", file, line, message), fatal);
}

void reportErrorInt(const char* file, int line, const char* message, int value, bool fatal) {
    deliver(report::format("%s:%d %s: %i", file, line, message, value), fatal);
}

void reportErrorText(const char* file, int line, const char* message, const char* text, bool fatal) {
    deliver(report::format("%s:%d %s: %s", file, line, message, text ? text : "(null)"), fatal);
}

void checkAssert(bool condition, const char* file, int line) {
    if (!condition) deliver(report::format("%s:%d %s", file, line, "assertion failed"), true);
}

const char* glErrorName(unsigned int error) {
    switch (error) {
    case GL_INVALID_ENUM:
        return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
        return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
        return "GL_INVALID_OPERATION";
    case GL_STACK_OVERFLOW:
        return "GL_STACK_OVERFLOW";
    case GL_STACK_UNDERFLOW:
        return "GL_STACK_UNDERFLOW";
    case GL_OUT_OF_MEMORY:
        return "GL_OUT_OF_MEMORY";
    default:
        return "Unknown error";
    }
}

void checkGLError(const char* file, int line) {
    GLenum error = glGetError();
    if (error == GL_NO_ERROR) return;
    deliver(report::format("%s:%d %s: %s", file, line, "GL error", glErrorName(error)), true);
}
