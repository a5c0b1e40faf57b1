#include "effects/RotoZoom.h"

#include "effects/LinkedEffect.h"
#include "platform/GL.h"
#include "resources/ScreenQuad.h"

#include <algorithm>
#include <cmath>

RotoZoom::RotoZoom() : Effect("RotoZoom") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(rotSpeed, "RotSpeed", NoList, KindFloat);
    initLinkedTarget(target, 512);
}

void RotoZoom::start(int time) {
    Effect::start(time);
    startLinked(linked, time, {&target});
}

void RotoZoom::update(int time) {
    Effect::update(time);
    updateLinked(linked, time,
                 {{&target, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT}});
}

void RotoZoom::render(int time) {
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
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ZERO);
    glColor4f(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time));
    target.bind(WGL_FRONT_LEFT_ARB);

    // The zoom swings between 0 and 10 repeats of the picture; 0 itself would collapse the matrix.
    glMatrixMode(GL_TEXTURE);
    glPushMatrix();
    glLoadIdentity();
    float z = static_cast<float>(5.0 * std::sin(0.1 * phase - 1.570796326794895) + 5.0);
    z = std::max(z, 1e-7f);
    glTranslatef(0.5f, 0.5f, 0.0f);
    glScalef(z, z, z);
    glRotatef(rotSpeed.valueAt(time) * phase * 20.0f, 0, 0, 1);
    glTranslatef(-0.5f, -0.5f, 0.0f);

    glMatrixMode(GL_MODELVIEW);
    drawUnitQuad();

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_TEXTURE);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    target.release(WGL_FRONT_LEFT_ARB);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
}
