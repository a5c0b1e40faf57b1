#include "effects/Tiles.h"

#include "effects/LinkedEffect.h"
#include "platform/GL.h"
#include "resources/ScreenQuad.h"

Tiles::Tiles() : Effect("Tiles") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(rotSpeed, "RotSpeed", NoList, KindFloat);
    registerVariable(fadeSpeed, "FadeSpeed", NoList, KindFloat);
    initLinkedTarget(target, 512);
}

void Tiles::start(int time) {
    Effect::start(time);
    startLinked(linked, time, {&target});
}

void Tiles::update(int time) {
    Effect::update(time);
    updateLinked(linked, time, {{&target, GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT}});
}

void Tiles::render(int time) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, 1, 0, 1, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    const float r = red.valueAt(time), g = green.valueAt(time), b = blue.valueAt(time);
    glColor4f(r, g, b, alpha.valueAt(time));
    target.bind(WGL_FRONT_LEFT_ARB);

    const float progress = 0.02f * phase + 1.0f;
    const float turn = rotSpeed.valueAt(time), fade = fadeSpeed.valueAt(time);
    int k = 0;
    for (int i = 1; i <= 2; ++i) {
        for (int j = 0; j <= 1; ++j, ++k) {
            glLoadIdentity();
            float grown = progress - delays[k];
            if (!(grown > 1.0f)) grown = 1.0f;
            glTranslatef((j + 1) * 0.5f - 0.25f, i * 0.5f - 0.25f, 0);
            glRotatef(turn * (grown - 1.0f) * 100.0f, 0, 0, 1);
            glScalef(0.5f / grown, 0.5f / grown, 1);
            glTranslatef(-0.5f, -0.5f, 0);
            float a = 1.0f - fade * (grown - 1.0f) * 10.0f;
            if (a <= 0) a = 0;
            glColor4f(r, g, b, a);
            // The tile's own quarter of the picture: at full size the four make it whole.
            drawQuadTexRect(ScreenRect{0, 0, 1, 1}, ScreenRect{j * 0.5f, i * 0.5f, 0.5f, -0.5f});
        }
    }

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    target.release(WGL_FRONT_LEFT_ARB);
    glDisable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glColor3f(1, 1, 1);
}
