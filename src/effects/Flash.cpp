#include "effects/Flash.h"

#include "platform/GL.h"
#include "resources/ScreenQuad.h"

#include <cmath>

Flash::Flash() : Effect("Flash") {
    registerVariable(add, "Add", NoList, KindBool);
    registerVariable(repeat, "Repeat", NoList, KindBool);
    setPatternEnabled(true);
}

void Flash::patternStep(float stepPhase) {
    flashStart = stepPhase;
}

void Flash::render(int time) {
    if (patternChar == '0') return;
    // Brightness 255 at the step, in whole steps of 1/255 of a phase unit.
    const float scaled = (phase - flashStart) * 255.0f;
    const double b = 255.0 - std::trunc(static_cast<double>(scaled));
    const float k = static_cast<float>(std::exp(b / 255.0) / std::exp(1.0));
    if (add.valueAt(time) > 0)
        glBlendFunc(GL_ONE, GL_ONE);
    else
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(k, k, k, k);
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
