#include "resources/ScreenQuad.h"

#include "platform/GL.h"
#include "resources/PBuffer.h"
#include "resources/Texture.h"

namespace {
void ortho(double bottom, double top) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 1, bottom, top, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

constexpr ScreenRect wholeTexture{0.0f, 0.0f, 1.0f, 1.0f};

void sizeQuad(float size) {
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
} // namespace

void setOrthoYUp() {
    ortho(0, 1);
}
void setOrthoYDown() {
    ortho(1, 0);
}

void drawQuadTexRect(const ScreenRect& r, const ScreenRect& t) {
    glBegin(GL_QUADS);
    glTexCoord2f(t.x, t.y);
    glVertex2f(r.x, 1 - r.y);
    glTexCoord2f(t.x + t.width, t.y);
    glVertex2f(r.x + r.width, 1 - r.y);
    glTexCoord2f(t.x + t.width, t.y + t.height);
    glVertex2f(r.x + r.width, 1 - (r.y + r.height));
    glTexCoord2f(t.x, t.y + t.height);
    glVertex2f(r.x, 1 - (r.y + r.height));
    glEnd();
}

void drawQuad(const ScreenRect& rect) {
    drawQuadTexRect(rect, wholeTexture);
}

void drawTexturedQuadTexRect(Texture* texture, const ScreenRect& rect, const ScreenRect& texRect) {
    if (texture) {
        texture->bind();
        glEnable(GL_TEXTURE_2D);
    }
    drawQuadTexRect(rect, texRect);
    if (texture) glDisable(GL_TEXTURE_2D);
}

void drawTexturedQuad(Texture* texture, const ScreenRect& rect) {
    drawTexturedQuadTexRect(texture, rect, wholeTexture);
}

void drawUnitQuad() {
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

void brightenScreen(int factor) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 1, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glEnable(GL_BLEND);
    glBlendFunc(GL_DST_COLOR, GL_ONE); // white doubles what is there
    glDisable(GL_TEXTURE_2D);

    long long a = 1; // wide, so doubling up to any int factor cannot overflow
    for (long long b = 2; b <= factor; b *= 2) {
        glColor4f(1, 1, 1, 1);
        drawUnitQuad();
        a = b;
    }
    glColor4f(
        1, 1, 1,
        static_cast<float>((static_cast<double>(factor) - static_cast<double>(a)) / static_cast<double>(a)));
    drawUnitQuad();

    glDisable(GL_BLEND);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

void drawStreakQuads(float size, unsigned count, float step, float offset, float intensity, bool skipVertical,
                     bool skipHorizontal) {
    glEnable(GL_TEXTURE_2D);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, size, size, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glColor4f(intensity, intensity, intensity, intensity);

    if (!skipHorizontal) {
        glPushMatrix();
        glTranslatef(-offset, 0, 0);
        for (unsigned k = 0; k < count; ++k) {
            sizeQuad(size);
            glTranslatef(step, 0, 0);
        }
        glPopMatrix();
    }
    if (!skipVertical) {
        // Left on the model-view matrix; the next pass loads its own.
        glTranslatef(0, -offset, 0);
        for (unsigned k = 0; k < count; ++k) {
            sizeQuad(size);
            glTranslatef(0, step, 0);
        }
    }

    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
}

void streakPBuffer(PBuffer* source, PBuffer* target, unsigned count, float step, float offset,
                   float intensity, bool skipVertical, bool skipHorizontal) {
    if (!target || !target->isInitialized()) return;
    target->enable();
    if (source) source->bind(WGL_FRONT_LEFT_ARB);
    drawStreakQuads(static_cast<float>(target->getWidth()), count, step, offset, intensity, skipVertical,
                    skipHorizontal);
    if (source) source->release(WGL_FRONT_LEFT_ARB);
    target->disable();
}

void streakTexture(Texture* texture, PBuffer* target, unsigned count, float step, float offset,
                   float intensity, bool skipVertical, bool skipHorizontal) {
    if (!target || !target->isInitialized()) return;
    target->enable();
    if (texture) texture->bind();
    drawStreakQuads(static_cast<float>(target->getWidth()), count, step, offset, intensity, skipVertical,
                    skipHorizontal);
    target->disable();
}
