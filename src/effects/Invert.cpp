#include "effects/Invert.h"

#include "platform/GL.h"
#include "resources/ScreenQuad.h"

Invert::Invert() : Effect("Invert") {}

void Invert::render(int) {
    glColor4f(1, 1, 1, 1);
    setOrthoYUp();
    glDisable(GL_TEXTURE_2D);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    // White source: result = (1 - dst) * 1 + (1 - 1) * dst.
    glBlendFunc(GL_ONE_MINUS_DST_COLOR, GL_ONE_MINUS_SRC_COLOR);
    drawQuad(ScreenRect{0, 0, 1, 1});
    glDisable(GL_BLEND);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_TEXTURE_2D);
}
