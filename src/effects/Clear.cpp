#include "effects/Clear.h"

#include "platform/GL.h"

Clear::Clear(float r, float g, float b, float a) : Effect("Clear"), red(r), green(g), blue(b), alpha(a) {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(clearColor, "ClearColor", NoList, KindBool);
    registerVariable(clearDepth, "ClearDepth", NoList, KindBool);
    registerVariable(clearStencil, "ClearStencil", NoList, KindBool);
}

void Clear::render(int time) {
    glClearColor(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time));
    GLbitfield mask = 0;
    if (clearColor.valueAt(time) > 0) mask |= GL_COLOR_BUFFER_BIT;
    if (clearStencil.valueAt(time) > 0) mask |= GL_STENCIL_BUFFER_BIT;
    if (clearDepth.valueAt(time) > 0) mask |= GL_DEPTH_BUFFER_BIT;
    glClear(mask);
}
