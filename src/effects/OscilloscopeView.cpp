#include "effects/OscilloscopeView.h"

#include "platform/GL.h"
#include "sound/OscilloscopeTap.h"

OscilloscopeView::OscilloscopeView() {
    // The waveform is drawn without depth testing: no depth buffer.
    pbuffer.initialize(size, size, false, TargetBuffers::ColourOnly);
    pbuffer.createTexture(GL_REPEAT, GL_LINEAR, GL_NEAREST);
}

OscilloscopeView::~OscilloscopeView() {
    if (tapHeld) OscilloscopeTap::stop();
}

void OscilloscopeView::startTap() {
    // The tap counts its users: a view that starts again gives its old share back first, so one
    // stop at the end always matches.
    if (tapHeld) {
        OscilloscopeTap::stop();
        tapHeld = false;
    }
    OscilloscopeTap::start();
    // A start without a sound system is fatal; should that report ever return, no share is held.
    tapHeld = OscilloscopeTap::running();
}

void OscilloscopeView::setColour(float r, float g, float b, float a) {
    colour[0] = r;
    colour[1] = g;
    colour[2] = b;
    colour[3] = a;
}

void OscilloscopeView::waveform(float* xy) const {
    const int first = OscilloscopeTap::readingPosition();
    const int length = OscilloscopeTap::blockLength();
    const int n = segments > 0 ? segments : 1;
    // Single precision, as the strip's step is meant to add up; the last vertex reads the sample
    // just after the block, which the ring's spare samples hold.
    const float step = static_cast<float>(length) / static_cast<float>(n);
    float q = 0.0f;
    for (int i = 0; i <= n; ++i) {
        const int sample = OscilloscopeTap::sample(first + static_cast<int>(q));
        xy[2 * i] = static_cast<float>(i) / static_cast<float>(n);
        xy[2 * i + 1] = static_cast<float>(sample + 32768) / 65536.0f;
        q += step;
    }
}

PBuffer* OscilloscopeView::renderToPBuffer() {
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    if (pbuffer.isInitialized()) {
        pbuffer.enable();
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);

        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glMatrixMode(GL_PROJECTION);
        glPushMatrix();
        glLoadIdentity();
        glOrtho(0, 1, 0, 1, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glPushMatrix();
        glLoadIdentity();
        glColor4f(colour[0], colour[1], colour[2], colour[3]);

        const int n = segments > 0 ? segments : 1;
        strip.resize(static_cast<size_t>(n + 1) * 2);
        waveform(strip.data());
        glLineWidth(4);
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i <= n; ++i)
            glVertex2f(strip[2 * i], strip[2 * i + 1]);
        glEnd();
        glLineWidth(1);

        glMatrixMode(GL_PROJECTION);
        glPopMatrix();
        glMatrixMode(GL_MODELVIEW);
        glPopMatrix();
        glEnable(GL_DEPTH_TEST);
        pbuffer.disable();
    }
    glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
    return &pbuffer;
}
