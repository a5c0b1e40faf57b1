#include "effects/Fade.h"

#include "platform/GL.h"
#include "resources/ScreenQuad.h"

#include <cmath>

Fade::Fade() : Effect("Fade") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
}

void Fade::start(int time) {
    Effect::start(time);
    blend = false;
}

void Fade::signal(const Signal& s) {
    Effect::signal(s);
    switch (s.type) {
    case 22:
        // The fade then lasts a time proportional to the value.
        if (std::fabs(s.value) > 0.0001f) speed.value = 1.0f / s.value;
        break;
    case 27:
        fadeOut = s.value > 0;
        break;
    case 31:
        blend = s.value > 0;
        break;
    default:
        break;
    }
}

void Fade::render(int time) {
    float a = phase;
    if (fadeOut) a = 1.0f - a;
    if (a < 0) return;
    if (blend || fadeOut)
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    else
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glColor4f(red.valueAt(time), green.valueAt(time), blue.valueAt(time), a);
    setOrthoYUp();
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    // The quad is meant untextured: Invert and others leave texturing on with their texture bound.
    if (!texture) glDisable(GL_TEXTURE_2D);
    drawTexturedQuad(texture, ScreenRect{0, 0, 1, 1});
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glColor4f(1, 1, 1, 1);
}
