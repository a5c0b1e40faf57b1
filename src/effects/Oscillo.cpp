#include "effects/Oscillo.h"

#include "platform/GL.h"
#include "resources/ScreenQuad.h"

Oscillo::Oscillo() : Effect("Osc") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(xPos, "xPos", NoList, KindFloat);
    registerVariable(yPos, "yPos", NoList, KindFloat);
    registerVariable(width, "Width", NoList, KindFloat);
    registerVariable(height, "Height", NoList, KindFloat);
}

void Oscillo::start(int time) {
    Effect::start(time);
    view.startTap();
    ready = true;
}

void Oscillo::render(int time) {
    if (!ready) return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    view.setColour(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time));
    if (PBuffer* target = view.renderToPBuffer()) {
        target->bind(WGL_FRONT_LEFT_ARB);
        glEnable(GL_TEXTURE_2D);
        glDisable(GL_CULL_FACE);
        // Where the waveform is bright the screen is darkened: the line shows dark.
        glBlendFunc(GL_ZERO, GL_ONE_MINUS_SRC_COLOR);
        setOrthoYUp();
        drawQuad(
            ScreenRect{xPos.valueAt(time), yPos.valueAt(time), width.valueAt(time), height.valueAt(time)});
        target->release(WGL_FRONT_LEFT_ARB);
        // The effects after this one draw their untextured quads with whatever texturing is on.
        glDisable(GL_TEXTURE_2D);
    }
    glBlendEquation(GL_FUNC_ADD);
    glDisable(GL_BLEND);
    glColor3f(1, 1, 1);
}
