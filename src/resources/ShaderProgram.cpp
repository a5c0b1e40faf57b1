#include "resources/ShaderProgram.h"

#include "archive/DataFile.h"
#include "base/Report.h"
#include "platform/GL.h"

#include <cctype>
#include <cstdlib>
#include <vector>

namespace shaderprogram {

namespace {

// Shadertoy's inputs, under their names, and ours. GLSL 3.30 in the compatibility profile takes
// what Shadertoy's GLSL ES 3.00 code uses (texture(), texelFetch, integer operations, out
// parameters) and keeps texture2D and gl_FragColor for older pastes.
const char kHeader[] = "#version 330 compatibility\n"
                       "#define HW_PERFORMANCE 1\n"
                       "uniform vec3 iResolution;\n"
                       "uniform float iTime;\n"
                       "uniform float iTimeDelta;\n"
                       "uniform float iFrameRate;\n"
                       "uniform int iFrame;\n"
                       "uniform float iChannelTime[4];\n"
                       "uniform vec3 iChannelResolution[4];\n"
                       "uniform vec4 iMouse;\n"
                       "uniform vec4 iDate;\n"
                       "uniform float iSampleRate;\n"
                       "uniform sampler2D iChannel0;\n"
                       "uniform sampler2D iChannel1;\n"
                       "uniform sampler2D iChannel2;\n"
                       "uniform sampler2D iChannel3;\n"
                       "uniform float iDemoTime;\n"
                       "uniform float iBeat;\n"
                       "uniform float Param1;\n"
                       "uniform float Param2;\n"
                       "uniform float Param3;\n"
                       "uniform float Param4;\n"
                       "uniform float Param5;\n"
                       "uniform float Param6;\n"
                       "uniform float Param7;\n"
                       "uniform float Param8;\n";

// After the file, so that its lines keep their numbers. The pass's colour carries Alpha.
const char kFooter[] = "\nvoid main() {\n"
                       "    vec4 colour = vec4(0.0, 0.0, 0.0, 1.0);\n"
                       "    mainImage(colour, gl_FragCoord.xy);\n"
                       "    gl_FragColor = vec4(colour.rgb, colour.a * gl_Color.a);\n"
                       "}\n";

int countLines(const char* text) {
    int lines = 0;
    for (const char* p = text; *p; ++p)
        lines += *p == '\n';
    return lines;
}

// Whether the text, comments left out, defines a function of that name: the name followed by "(".
bool definesFunction(const std::string& text, const std::string& name) {
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const char c = text[i];
        if (c == '/' && i + 1 < n && text[i + 1] == '/') {
            while (i < n && text[i] != '\n')
                ++i;
            continue;
        }
        if (c == '/' && i + 1 < n && text[i + 1] == '*') {
            const size_t end = text.find("*/", i + 2);
            i = end == std::string::npos ? n : end + 2;
            continue;
        }
        if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
            const size_t start = i;
            while (i < n && (std::isalnum(static_cast<unsigned char>(text[i])) || text[i] == '_'))
                ++i;
            if (text.compare(start, i - start, name) == 0 && i - start == name.size()) {
                size_t j = i;
                while (j < n && std::isspace(static_cast<unsigned char>(text[j])))
                    ++j;
                if (j < n && text[j] == '(') return true;
            }
            continue;
        }
        ++i;
    }
    return false;
}

bool readNumber(const std::string& s, size_t& pos, int& value) {
    const size_t start = pos;
    long v = 0;
    while (pos < s.size() && std::isdigit(static_cast<unsigned char>(s[pos])) && pos - start < 9)
        v = v * 10 + (s[pos++] - '0');
    value = static_cast<int>(v);
    return pos > start;
}

bool expect(const std::string& s, size_t& pos, const char* what) {
    for (const char* w = what; *w; ++w, ++pos)
        if (pos >= s.size() || s[pos] != *w) return false;
    return true;
}

// The line a log line names and where its message starts; false when it names none.
bool placeOf(const std::string& line, int& lineNumber, size_t& messageStart) {
    size_t pos = 0;
    int source = 0;
    // AMD and Intel: "ERROR: 0:12: message" (the word is kept as the message's severity).
    for (const char* severity : {"ERROR: ", "WARNING: "}) {
        size_t p = 0;
        if (expect(line, p, severity) && readNumber(line, p, source) && expect(line, p, ":") &&
            readNumber(line, p, lineNumber) && expect(line, p, ":")) {
            while (p < line.size() && line[p] == ' ')
                ++p;
            messageStart = p;
            return true;
        }
    }
    if (!readNumber(line, pos, source)) return false;
    if (pos < line.size() && line[pos] == ':') {
        // Mesa: "0:12(5): message".
        ++pos;
        if (!readNumber(line, pos, lineNumber) || !expect(line, pos, "(")) return false;
        int column = 0;
        if (!readNumber(line, pos, column) || !expect(line, pos, "):")) return false;
    } else if (pos < line.size() && line[pos] == '(') {
        // NVIDIA: "0(12) : message".
        ++pos;
        if (!readNumber(line, pos, lineNumber) || !expect(line, pos, ")")) return false;
        while (pos < line.size() && line[pos] == ' ')
            ++pos;
        if (!expect(line, pos, ":")) return false;
    } else {
        return false;
    }
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    messageStart = pos;
    return true;
}

std::string lowerSeverity(const std::string& message, const std::string& line) {
    // AMD writes the severity in front of the place: put it back in front of the message.
    if (line.compare(0, 7, "ERROR: ") == 0) return "error: " + message;
    if (line.compare(0, 9, "WARNING: ") == 0) return "warning: " + message;
    return message;
}

std::string infoLog(GLuint object, bool program) {
    GLint length = 0;
    if (program)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 0) return std::string();
    std::vector<char> log(static_cast<size_t>(length) + 1, '\0');
    GLsizei written = 0;
    if (program)
        glGetProgramInfoLog(object, length, &written, log.data());
    else
        glGetShaderInfoLog(object, length, &written, log.data());
    return std::string(log.data(), static_cast<size_t>(written > 0 ? written : 0));
}

Build refused(const std::string& error) {
    Build b;
    b.problem = Build::Problem::Refused;
    b.error = error;
    return b;
}

} // namespace

Source fragmentSource(const std::string& fileText) {
    std::string text = fileText;
    // An editor's byte order mark is no GLSL.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    Source s;
    const bool shadertoy = definesFunction(text, "mainImage");
    const bool ownMain = definesFunction(text, "main");
    s.hasEntry = shadertoy || ownMain;
    if (ownMain && !shadertoy) {
        s.text = text;
        return s;
    }
    s.wrapped = true;
    s.addedLines = countLines(kHeader);
    s.text.reserve(sizeof kHeader + text.size() + sizeof kFooter);
    s.text.append(kHeader).append(text).append(kFooter);
    return s;
}

std::string mapLog(const std::string& log, const std::string& fileName, int addedLines) {
    std::string out;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\0'))
            line.pop_back();
        if (line.empty()) continue;
        int number = 0;
        size_t message = 0;
        std::string mapped;
        if (placeOf(line, number, message)) {
            const std::string text = lowerSeverity(line.substr(message), line);
            const int fileLine = number - addedLines;
            mapped = fileLine > 0 ? fileName + ":" + std::to_string(fileLine) + ": " + text
                                  : fileName + ": " + text;
        } else {
            mapped = fileName + ": " + line;
        }
        if (!out.empty()) out += '\n';
        out += mapped;
    }
    return out;
}

Build build(const std::string& fileName, const std::string& fileText) {
    if (!GLEW_VERSION_2_0)
        return refused(fileName + ": error: the GL driver runs no GLSL programs (OpenGL 2.0)");
    const Source source = fragmentSource(fileText);
    if (!source.hasEntry)
        return refused(fileName +
                       ": error: no mainImage function (Shadertoy's form) and no main: nothing to run");

    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    const GLchar* text = source.text.c_str();
    const GLint length = static_cast<GLint>(source.text.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint compiled = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled != GL_TRUE) {
        std::string error = mapLog(infoLog(shader, false), fileName, source.addedLines);
        glDeleteShader(shader);
        if (error.empty()) error = fileName + ": error: the driver did not compile it and said nothing";
        return refused(error);
    }

    const GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    glDetachShader(program, shader);
    glDeleteShader(shader);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        std::string error = mapLog(infoLog(program, true), fileName, source.addedLines);
        glDeleteProgram(program);
        if (error.empty()) error = fileName + ": error: the driver did not link it and said nothing";
        return refused(error);
    }
    Build b;
    b.program = program;
    return b;
}

Build load(const std::string& fileName) {
    Build b;
    const long long size = DataFile::sizeOf(fileName.c_str());
    if (size > kMaxProgramBytes) {
        b.problem = Build::Problem::TooLong;
        b.error = report::format("%s: %lld bytes, more than %lld", fileName.c_str(), size, kMaxProgramBytes);
        return b;
    }
    DataFile file(fileName.c_str());
    if (!file.isOpen()) {
        b.problem = Build::Problem::Missing;
        b.error = fileName;
        return b;
    }
    const std::string text(reinterpret_cast<const char*>(file.getData()), file.getSize());
    file.close();
    return build(fileName, text);
}

} // namespace shaderprogram
