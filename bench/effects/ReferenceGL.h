// The plain-GL pieces the reference programs (blur-reference, dof-reference) share: render
// targets on framebuffer objects, unit-square quads, the additive streak pass, process CPU time.
// Written directly against the GL, without engine code, so they measure what the passes cost alone.
#pragma once

#include <GL/glew.h>

#include <ctime>

namespace reference {

struct Target {
    GLuint framebuffer = 0;
    GLuint colour = 0;
    GLuint depth = 0;
    int size = 0;
};

inline Target makeTarget(int size) {
    Target t;
    t.size = size;
    glGenTextures(1, &t.colour);
    glBindTexture(GL_TEXTURE_2D, t.colour);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glGenRenderbuffers(1, &t.depth);
    glBindRenderbuffer(GL_RENDERBUFFER, t.depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, size, size);
    glGenFramebuffers(1, &t.framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.colour, 0);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, t.depth);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
    return t;
}

inline void into(const Target& t) {
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    glViewport(0, 0, t.size, t.size);
}

inline void unitOrtho() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, 1, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

inline void unitQuad() {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, 1);
    glTexCoord2f(1, 0);
    glVertex2f(1, 1);
    glTexCoord2f(1, 1);
    glVertex2f(1, 0);
    glTexCoord2f(0, 1);
    glVertex2f(0, 0);
    glEnd();
}

inline void sizeQuad(float size) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(0, size);
    glTexCoord2f(1, 0);
    glVertex2f(size, size);
    glTexCoord2f(1, 1);
    glVertex2f(size, 0);
    glTexCoord2f(0, 1);
    glVertex2f(0, 0);
    glEnd();
}

// Six copies across and six down, added.
inline void streak(const Target& source, const Target& target, float step, float offset, float intensity) {
    into(target);
    glBindTexture(GL_TEXTURE_2D, source.colour);
    glEnable(GL_TEXTURE_2D);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    const float size = static_cast<float>(target.size);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, size, size, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor4f(intensity, intensity, intensity, intensity);
    glPushMatrix();
    glTranslatef(-offset, 0, 0);
    for (int k = 0; k < 6; ++k) {
        sizeQuad(size);
        glTranslatef(step, 0, 0);
    }
    glPopMatrix();
    glPushMatrix();
    glTranslatef(0, -offset, 0);
    for (int k = 0; k < 6; ++k) {
        sizeQuad(size);
        glTranslatef(0, step, 0);
    }
    glPopMatrix();
    glDisable(GL_BLEND);
}

inline double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace reference
