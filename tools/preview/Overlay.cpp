// What the preview shows of itself over the demo: the window's title (time, frame rate, part,
// pause, loop, the editor's state, a time being typed, the first error) and the panel over the
// frame (the demo's findings, status lines).
#include "preview/Overlay.h"

#include "demo/DemoState.h"
#include "host/DemoEngine.h"
#include "platform/GL.h"
#include "preview/OverlayFont.h"
#include "preview/Preview.h"
#include "resources/ContactSheet.h"

#include <algorithm>
#include <cstdio>

namespace preview {

void Preview::reportEditShown(const preview::EditFollower::Edit& edit) {
    const double noticed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - edit.firstSeen).count();
    if (edit.savedAt > 0)
        fprintf(stderr,
                "holdfast-preview: the edit shows %.0f ms after it was saved (%.0f ms after it was "
                "noticed)\n",
                (preview::EditFollower::wallNow() - edit.savedAt) * 1000, noticed);
    else
        fprintf(stderr, "holdfast-preview: the edit shows %.0f ms after it was noticed\n", noticed);
}

void Preview::updateTitle() {
    const auto nowWall = std::chrono::steady_clock::now();
    const double sinceCount = std::chrono::duration<double>(nowWall - fpsCountStart).count();
    if (sinceCount >= 0.5) {
        shownFps = framesSinceCount / sinceCount;
        framesSinceCount = 0;
        fpsCountStart = nowWall;
        titleDirty = true;
    }
    if (playing && nowWall - lastTitle > std::chrono::milliseconds(100)) titleDirty = true;
    if (!titleDirty) return;
    titleDirty = false;
    lastTitle = nowWall;
    const int64_t t = now();
    char fpsText[32];
    snprintf(fpsText, sizeof fpsText, "%.0f fps", playing ? shownFps : 0.0);
    std::string title = "holdfast-preview | " + timeLabel(t) + " | " + fpsText;
    const std::string section = sectionAt(sections, static_cast<int>(t));
    if (!section.empty()) title += " | " + section;
    if (!playing) title += " | paused";
    if (loopEnd > loopStart)
        title += " | loop " + timeLabel(loopStart) + "-" + timeLabel(loopEnd) + (looping ? " on" : " off");
    if (rocket && !rocket->title().empty()) title += " | " + rocket->title();
    if (typing) title += " | go to " + typed + "_" + (typedProblem ? " (m:ss.mmm or seconds)" : "");
    if (!jumpProgress.empty()) title += " | " + jumpProgress;
    // The first error, where a title has room for it; the panel holds them all.
    size_t warnings = 0;
    const findings::Finding* firstError = nullptr;
    for (const findings::Finding& f : published) {
        if (f.error && !firstError) firstError = &f;
        warnings += f.error ? 0 : 1;
    }
    if (firstError)
        title += " | ERROR " + firstError->file +
                 (firstError->line > 0 ? ":" + std::to_string(firstError->line) : std::string()) + ": " +
                 firstError->text;
    else if (!shaderRefusal.empty())
        title += " | ERROR " + shaderRefusal;
    else if (warnings)
        title += " | " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
    platform::setWindowTitle(engine.getWindow(), title.c_str());
}

} // namespace preview

// ---- the panel over the frame --------------------------------------------------------------

namespace preview {

namespace {

constexpr float kBackdropAlpha = 0.8f; // the frame shows through the panel, dimmed
constexpr int kAtlasColumns = 16, kAtlasCellWidth = 8, kAtlasCellHeight = 10;
constexpr int kAtlasWidth = 128, kAtlasHeight = 64;

// What the font can draw: anything outside printable ASCII becomes '?' (a UTF-8 sequence once).
std::string printable(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            while (i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80)
                ++i;
            out += '?';
        } else {
            out += c < 32 || c == 127 ? ' ' : static_cast<char>(c);
        }
    }
    return out;
}

// Breaks `text` into lines of at most `columns` characters, at blanks where it can; the lines after
// the first are indented by two.
std::vector<std::string> wrap(const std::string& text, int columns) {
    std::vector<std::string> lines;
    std::string rest = printable(text);
    const size_t width = static_cast<size_t>(std::max(columns, 8));
    while (!rest.empty()) {
        const std::string indent = lines.empty() ? "" : "  ";
        const size_t room = width - indent.size();
        if (rest.size() <= room) {
            lines.push_back(indent + rest);
            break;
        }
        size_t cut = rest.rfind(' ', room);
        if (cut == std::string::npos || cut < room / 2) cut = room;
        lines.push_back(indent + rest.substr(0, cut));
        const size_t next = rest.find_first_not_of(' ', cut);
        rest.erase(0, next == std::string::npos ? rest.size() : next);
    }
    return lines;
}

std::string plural(size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

void toneColour(Overlay::Tone tone, bool header) {
    if (header)
        glColor3ub(240, 240, 240);
    else if (tone == Overlay::Tone::Error)
        glColor3ub(255, 120, 110);
    else if (tone == Overlay::Tone::Warning)
        glColor3ub(255, 210, 70);
    else
        glColor3ub(170, 215, 255);
}

// The GL state the panel draws in, set up over whatever the frame left, and put back after.
class PanelState {
  public:
    PanelState(int width, int height) {
        if (GLEW_VERSION_2_0) glGetIntegerv(GL_CURRENT_PROGRAM, &program);
        glGetIntegerv(GL_FRAMEBUFFER_BINDING_EXT, &framebuffer);
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        if (GLEW_VERSION_2_0) glUseProgram(0);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glDrawBuffer(GL_BACK);
        glReadBuffer(GL_BACK);
        GLint units = 1;
        glGetIntegerv(GL_MAX_TEXTURE_UNITS, &units);
        for (int unit = units - 1; unit >= 0; --unit) {
            glActiveTexture(GL_TEXTURE0 + unit);
            for (GLenum target : {GL_TEXTURE_1D, GL_TEXTURE_2D, GL_TEXTURE_3D, GL_TEXTURE_CUBE_MAP,
                                  GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q})
                glDisable(target);
        }
        for (GLenum cap : {GL_LIGHTING, GL_FOG, GL_DEPTH_TEST, GL_STENCIL_TEST, GL_ALPHA_TEST, GL_CULL_FACE,
                           GL_SCISSOR_TEST, GL_COLOR_LOGIC_OP, GL_COLOR_MATERIAL, GL_POLYGON_STIPPLE,
                           GL_POLYGON_OFFSET_FILL, GL_MULTISAMPLE, GL_BLEND, GL_DITHER})
            glDisable(cap);
        for (int plane = 0; plane < 6; ++plane)
            glDisable(GL_CLIP_PLANE0 + plane);
        if (GLEW_ARB_fragment_program) glDisable(GL_FRAGMENT_PROGRAM_ARB);
        if (GLEW_ARB_vertex_program) glDisable(GL_VERTEX_PROGRAM_ARB);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glDepthMask(GL_FALSE);
        glBlendEquation(GL_FUNC_ADD);
        glShadeModel(GL_FLAT);
        glViewport(0, 0, width, height);
        glMatrixMode(GL_TEXTURE);
        glPushMatrix();
        glLoadIdentity();
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glOrtho(0, width, height, 0, -1, 1); // pixels, y down
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    }
    ~PanelState() {
        glMatrixMode(GL_TEXTURE);
        glPopMatrix();
        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        glPopClientAttrib();
        glPopAttrib();
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, static_cast<GLuint>(framebuffer));
        if (GLEW_VERSION_2_0) glUseProgram(static_cast<GLuint>(program));
    }
    PanelState(const PanelState&) = delete;
    PanelState& operator=(const PanelState&) = delete;

  private:
    GLint program = 0, framebuffer = 0;
};

void quad(float x0, float y0, float x1, float y1, float u0, float v0, float u1, float v1) {
    glTexCoord2f(u0, v0);
    glVertex2f(x0, y0);
    glTexCoord2f(u1, v0);
    glVertex2f(x1, y0);
    glTexCoord2f(u1, v1);
    glVertex2f(x1, y1);
    glTexCoord2f(u0, v1);
    glVertex2f(x0, y1);
}

GLuint makeFontTexture() {
    std::vector<unsigned char> texels(kAtlasWidth * kAtlasHeight, 0);
    for (int g = 0; g <= font::kLast - font::kFirst; ++g) {
        const int x0 = (g % kAtlasColumns) * kAtlasCellWidth, y0 = (g / kAtlasColumns) * kAtlasCellHeight;
        for (int row = 0; row < font::kGlyphHeight; ++row)
            for (int col = 0; col < font::kGlyphWidth; ++col)
                if (font::kGlyphs[g][row] & (0x10 >> col)) texels[(y0 + row) * kAtlasWidth + x0 + col] = 255;
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, kAtlasWidth, kAtlasHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 texels.data());
    return texture;
}

} // namespace

void Overlay::setFindings(const std::vector<findings::Finding>& list) {
    found = list;
}

void Overlay::post(Kind kind, const std::string& text, Tone tone, double seconds) {
    Status& s = status[static_cast<int>(kind)];
    s.text = text;
    s.tone = tone;
    s.posted = true;
    s.until = seconds > 0
                  ? Clock::now() +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds))
                  : Clock::time_point{};
}

void Overlay::withdraw(Kind kind) {
    status[static_cast<int>(kind)].posted = false;
}

void Overlay::show() {
    hiddenByKey = false;
}

void Overlay::toggle() {
    hiddenByKey = !hiddenByKey;
}

std::vector<Overlay::Line> Overlay::lines(int columns) const {
    std::vector<Line> out;
    if (hiddenByKey) return out;
    const Clock::time_point now = Clock::now();
    for (const Status& s : status) {
        if (!s.posted || (s.until != Clock::time_point{} && now >= s.until)) continue;
        for (const std::string& line : wrap(s.text, columns))
            out.push_back(Line{line, s.tone, false});
    }
    if (found.empty()) return out;
    size_t errors = 0;
    for (const findings::Finding& f : found)
        errors += f.error ? 1 : 0;
    out.push_back(
        Line{plural(errors, "error") + ", " + plural(found.size() - errors, "warning") + " (H hides this)",
             Tone::Info, true});
    for (size_t i = 0; i < found.size(); ++i)
        for (const std::string& line : wrap(findings::format(found[i]), columns))
            out.push_back(
                Line{line, found[i].error ? Tone::Error : Tone::Warning, false, static_cast<int>(i)});
    return out;
}

std::string Overlay::signature(int columns) const {
    std::string s;
    for (const Line& line : lines(columns))
        s += line.text + '\n';
    return s;
}

bool Overlay::changed() const {
    return signature(80) != drawn;
}

void Overlay::drawOverFrame(int width, int height) {
    drawn = signature(80);
    const int columns = (width - 2 * font::kMargin) / font::kCellWidth;
    std::vector<Line> shown = lines(columns);
    if (shown.empty()) return;
    // At most half the window: the demo stays in sight, stderr has every finding.
    const size_t most = static_cast<size_t>(std::max(2, (height / 2) / font::kCellHeight));
    if (shown.size() > most) {
        // Whole findings only: the one cut short goes too.
        size_t keep = most - 1;
        while (keep > 0 && shown[keep - 1].finding >= 0 && shown[keep - 1].finding == shown[keep].finding)
            --keep;
        const int first = shown[keep].finding;
        const size_t left = first >= 0 ? found.size() - static_cast<size_t>(first) : 0;
        shown.resize(keep);
        shown.push_back(Line{"... " + plural(left, "more finding") + " on stderr", Tone::Info, true});
    }
    const PanelState state(width, height);
    if (!fontTexture) fontTexture = makeFontTexture();
    const int top = height - font::kMargin - static_cast<int>(shown.size()) * font::kCellHeight;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(0.0f, 0.0f, 0.0f, kBackdropAlpha);
    glBegin(GL_QUADS);
    quad(0, static_cast<float>(top - font::kMargin / 2), static_cast<float>(width),
         static_cast<float>(height), 0, 0, 0, 0);
    glEnd();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, fontTexture);
    glBegin(GL_QUADS);
    for (size_t i = 0; i < shown.size(); ++i) {
        toneColour(shown[i].tone, shown[i].header);
        const float y = static_cast<float>(top + static_cast<int>(i) * font::kCellHeight);
        for (size_t c = 0; c < shown[i].text.size(); ++c) {
            const int g = static_cast<unsigned char>(shown[i].text[c]) - font::kFirst;
            if (g <= 0 || g > font::kLast - font::kFirst) continue; // blanks draw nothing
            const float x = static_cast<float>(font::kMargin + static_cast<int>(c) * font::kCellWidth);
            const float u = static_cast<float>((g % kAtlasColumns) * kAtlasCellWidth) / kAtlasWidth;
            const float v = static_cast<float>((g / kAtlasColumns) * kAtlasCellHeight) / kAtlasHeight;
            quad(x, y, x + font::kGlyphWidth * font::kScale, y + font::kGlyphHeight * font::kScale, u, v,
                 u + static_cast<float>(font::kGlyphWidth) / kAtlasWidth,
                 v + static_cast<float>(font::kGlyphHeight) / kAtlasHeight);
        }
    }
    glEnd();
}

} // namespace preview
