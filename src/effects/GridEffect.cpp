#include "effects/GridEffect.h"

#include "base/RunState.h"
#include "platform/GL.h"
#include "resources/Texture.h"

GridEffect::GridEffect(const char* scriptName, int n, float width, float height, float texWidth,
                       float texHeight, float magicDefault, float cameraDistance)
    : Effect(scriptName), magic1(magicDefault), magic2(magicDefault), magic3(magicDefault),
      magic4(magicDefault), magic5(magicDefault), grid(n, width, height, 0.0f, 0.0f, texWidth, texHeight),
      distance(cameraDistance) {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(anim, "Anim", NoList, KindInt);
    registerVariable(rotate, "Rotate", NoList, KindBool);
    registerVariable(blend, "Blend", NoList, KindBool);
    registerVariable(shade, "Shade", NoList, KindBool);
    registerVariable(ampX, "ampX", NoList, KindFloat);
    registerVariable(ampY, "ampY", NoList, KindFloat);
    registerVariable(ampZ, "ampZ", NoList, KindFloat);
    registerVariable(magicStrength, "magicStrength", NoList, KindFloat);
    registerVariable(magic1, "magic1", NoList, KindFloat);
    registerVariable(magic2, "magic2", NoList, KindFloat);
    registerVariable(magic3, "magic3", NoList, KindFloat);
    registerVariable(magic4, "magic4", NoList, KindFloat);
    registerVariable(magic5, "magic5", NoList, KindFloat);
    speed.value = 0.1f;
}

void GridEffect::makePicture() {
    // Made once an effect is linked: a grid that only ever shows a texture holds no target.
    if (!linked || pbuffer.isInitialized()) return;
    pbuffer.initialize(kPictureSize, kPictureSize, false, TargetBuffers::DepthWhenNeeded);
    pbuffer.createTexture(GL_REPEAT, GL_LINEAR, GL_LINEAR);
    pbuffer.enable();
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    pbuffer.disable();
}

int gridAspect() {
    return screenHeight > 0 ? screenWidth / screenHeight : 1;
}

void GridEffect::start(int time) {
    Effect::start(time);
    makePicture();
    if (!pbuffer.isInitialized() || inPicture) return;
    // The linked effect starts inside the target it will draw into.
    inPicture = true;
    pbuffer.enable();
    if (linked) linked->start(time);
    pbuffer.disable();
    inPicture = false;
}

void GridEffect::update(int time) {
    Effect::update(time);
    makePicture();
    // A grid that is (through others) its own picture would draw itself without end: the inner
    // visit leaves the picture as it is.
    if (linked && pbuffer.isInitialized() && !inPicture) {
        inPicture = true;
        pbuffer.enable();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        linked->update(time);
        linked->render(time);
        pbuffer.disable();
        inPicture = false;
    }
    grid.useColours = shade.valueAt(time) > 0;
}

void GridEffect::signal(const Signal& s) {
    Effect::signal(s);
    if (s.type == 4) texture = signalled.load(s.text);
}

void GridEffect::warmUp() {
    signalled.preload(queuedSignalTexts(4));
}

void GridEffect::render(int time) {
    makePicture();
    const bool fromLinked = linked && pbuffer.isInitialized();
    if (fromLinked) {
        glEnable(GL_TEXTURE_2D);
        pbuffer.bind(WGL_FRONT_LEFT_ARB);
    } else if (texture) {
        glEnable(GL_TEXTURE_2D);
        texture->bind();
    } else {
        // No picture: the grid shows in its colours alone, whatever texture was left bound.
        glDisable(GL_TEXTURE_2D);
    }
    const GLboolean cullingWasOn = glIsEnabled(GL_CULL_FACE);

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(45, gridAspect(), 0.1, 2000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0, 0, -distance);

    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    spinTexture(time);
    glMatrixMode(GL_MODELVIEW);

    glEnable(GL_CULL_FACE);
    glCullFace(GL_FRONT);
    glDisable(GL_LIGHTING);
    glColor4f(1, 1, 1, 1);

    // Another formula starts from the flat grid, so nothing of the last one stays. The value is
    // compared, not only the changed flag: keyed values of an Int track never raise it.
    const int m = static_cast<int>(anim.valueAt(time));
    if (m != appliedAnim || anim.changed) {
        grid.reset();
        anim.changed = false;
        appliedAnim = m;
    }
    animate(m, time);

    const bool blending = blend.valueAt(time) > 0;
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    if (blending) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    }
    glColor4f(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time));
    grid.draw(true);
    if (blending) {
        glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glDisable(GL_BLEND);
    }

    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glCullFace(GL_BACK);
    if (!cullingWasOn) glDisable(GL_CULL_FACE);
    glColor4f(1, 1, 1, 1);
    if (fromLinked) pbuffer.release(WGL_FRONT_LEFT_ARB);
    // The effects after this one draw their untextured quads with whatever texturing is on.
    glDisable(GL_TEXTURE_2D);
}
