#include "effects/Mosaic.h"

#include "effects/LinkedEffect.h"
#include "platform/GL.h"
#include "resources/ScreenQuad.h"

#include <algorithm>

Mosaic::Mosaic() : Effect("Mosaic") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(saturation, "Saturation", NoList, KindFloat);
    registerVariable(preSaturation, "PreSaturation", NoList, KindFloat);
    registerVariable(zoomCenter, "ZoomCenter", NoList, KindBool);
    initLinkedTarget(detail, 256);
    initLinkedTarget(cells, cellCount);
}

void Mosaic::start(int time) {
    Effect::start(time);
    startLinked(linked, time, {&detail, &cells});
}

void Mosaic::update(int time) {
    Effect::update(time);
    const GLbitfield clearMask = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT;
    updateLinked(linked, time, {{&detail, clearMask, [] { brightenScreen(2); }}, {&cells, clearMask}});
}

void Mosaic::render(int time) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 1, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);

    const bool centred = zoomCenter.valueAt(time) > 0;
    const float n = static_cast<float>(cellCount);
    const float s = std::min(0.01f * phase + 1.0f / n, 0.97f);

    // Cells: a part s of the coarse picture magnified texel by texel over the screen.
    cells.bind(WGL_FRONT_LEFT_ARB);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    if (centred) {
        const float m = 0.5f / n + 0.5f;
        glTranslatef(m, m, 0);
        glScalef(s, s, 1);
        glTranslatef(-0.5f, -0.5f, 0);
    } else {
        glScalef(s, s, 1);
    }
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_BLEND);
    drawUnitQuad();
    // Keys are unclamped: a huge or NaN Saturation saturates (or gives 0) instead of overflowing.
    brightenScreen(truncateToInt(saturation.valueAt(time) * 10.0f));
    cells.release(WGL_FRONT_LEFT_ARB);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();

    // Detail: one copy of the whole picture per cell, multiplied by the cell's colour.
    detail.bind(WGL_FRONT_LEFT_ARB);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    const float e = n * s;
    if (centred) {
        glTranslatef(0.5f, 0.5f, 0);
        glScalef(e, e, 1);
        glTranslatef(-0.5f, -0.5f, 0);
    } else {
        glScalef(e, e, 1);
    }
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_BLEND);
    glBlendFunc(GL_DST_COLOR, GL_ZERO);
    drawUnitQuad();
    detail.release(WGL_FRONT_LEFT_ARB);
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();

    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glColor4f(1, 1, 1, 1);
}
