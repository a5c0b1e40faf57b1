#include "effects/Splinzor.h"

#include "base/RunState.h"
#include "demo/Random.h"
#include "platform/GL.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {
float jitter[Splinzor::kHistory]; // (ja, jb) per control point, -0.5 .. 0.5
float historyValues[Splinzor::kHistory];
int nextStepTime = 0;
float points[Splinzor::kRings][Splinzor::kPoints][3];
float starts[Splinzor::kRings][3];

constexpr float kSixth = 0.16666667f;
} // namespace

Splinzor::Splinzor() : Effect("Splinzor") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(radius, "Radius", NoList, KindFloat);
    registerVariable(zInc, "zInc", NoList, KindFloat);
    registerVariable(magic1, "magic1", NoList, KindFloat);
    registerVariable(magic2, "magic2", NoList, KindFloat);
    registerVariable(magic3, "magic3", NoList, KindFloat);

    for (float& j : jitter)
        j = Random::unit() - 0.5f;
    nextStepTime = 0;
    speed.value = 0.1f;
    Effect::start(0);
    // The history is full before the first frame.
    for (int k = 0; k < kHistory; ++k)
        historyStep(k * kStepMs);
}

const float* Splinzor::history() {
    return historyValues;
}
int Splinzor::lastStepTime() {
    return nextStepTime;
}
const float* Splinzor::ringStarts() {
    return &starts[0][0];
}

float Splinzor::wobbleAt(int time) {
    Effect::update(time);
    const float p = phase;
    const float h = std::cos(0.005f * p);
    return std::sin(0.03f * h + 0.02f * p) * 3.0f + 2.0f * h;
}

void Splinzor::historyStep(int time) {
    historyValues[kHistory - 1] = wobbleAt(time);
    std::memmove(historyValues, historyValues + 1, (kHistory - 1) * sizeof(float));
}

long Splinzor::catchUp(int time) {
    const int64_t ahead = static_cast<int64_t>(time) - nextStepTime;
    if (ahead <= kStepMs) return 0; // includes time that went backwards
    const long due = static_cast<long>((ahead - 1) / kStepMs);
    // Each step pushes one value; after a full history's worth, earlier ones have all left it.
    const long skipped = due > kHistory ? due - kHistory : 0;
    int64_t f = nextStepTime + static_cast<int64_t>(skipped) * kStepMs;
    for (long k = skipped; k < due; ++k, f += kStepMs)
        historyStep(static_cast<int>(f));
    nextStepTime = static_cast<int>(f);
    return due;
}

void Splinzor::render(int time) {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    const int aspect = screenHeight > 0 ? screenWidth / screenHeight : 1;
    gluPerspective(65, aspect, 1, 2000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    {
        const float p = phase;
        const float e = std::cos(0.01f * p);
        glTranslatef(2 * e * std::sin(0.005f * p), 4 * e + 6, -50);
    }

    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D); // lines and dots are plain colour
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glColor4f(1, 1, 1, 1);
    glEnable(GL_LINE_SMOOTH);
    glLineWidth(3);

    catchUp(time);
    Effect::update(time);

    const float m1 = magic1.valueAt(time);
    const float m2 = magic2.valueAt(time);
    const float m3 = magic3.valueAt(time);
    const float dz = zInc.valueAt(time) * 24;
    const float r0 = radius.valueAt(time) * 20 - 10 - 1;
    const float w = 2 * m1;

    float angle = 0;
    const float* j = jitter;
    for (int k = 0; k < kRings; ++k) {
        angle += 0.06283185f;
        for (int i = 0; i < kPoints; ++i, j += 2) {
            float d = 0;
            if (i == 0)
                historyValues[kHistory - 1] = 0;
            else
                d = historyValues[kHistory - 1 - 150 * i];
            const float r = static_cast<float>(i) * dz * 0.3f + r0;
            points[k][i][0] = (w * j[0] + 1) * std::sin(angle + 0.5f * d) * r;
            points[k][i][1] = (w * j[1] + 1) * r * std::cos(angle + 0.5f * d);
            points[k][i][2] =
                static_cast<float>(i) * dz + (std::sin(angle + d * m3) + std::cos(angle + d * m2)) * 8;
        }
    }

    const float l = signalLevel;
    const float cr = red.valueAt(time) + l, cg = green.valueAt(time) + l, cb = blue.valueAt(time) + l;
    const float ca = alpha.valueAt(time) + l;
    for (int k = 0; k < kRings; ++k) {
        glBegin(GL_LINE_STRIP);
        for (int i = 0; i < 6; ++i) {
            // Every channel starts at the alpha value and falls by its own variable.
            const float fi = static_cast<float>(i);
            glColor4f(ca - fi * cr / 6, ca - fi * cg / 6, ca - fi * cb / 6, ca);
            const float* a = points[k][i];
            const float* b = points[k][i + 1];
            const float* c = points[k][i + 2];
            const float* e = points[k][i + 3];
            float u = 0;
            for (int s = 0; s < 10; ++s, u += 0.1f) {
                const float v = 1 - u;
                const float b0 = v * v * v * kSixth;
                const float b1 = (3 * u * u * u - 6 * u * u + 4) * kSixth;
                const float b2 = (-3 * u * u * u + 3 * u * u + 3 * u + 1) * kSixth;
                const float b3 = u * u * u * kSixth;
                float q[3];
                for (int n = 0; n < 3; ++n)
                    q[n] = b0 * a[n] + b1 * b[n] + b2 * c[n] + b3 * e[n];
                if (i == 0 && s == 0) std::memcpy(starts[k], q, sizeof q);
                glVertex3f(q[0], q[1], q[2]);
            }
        }
        glEnd();
    }

    glDisable(GL_LINE_SMOOTH);
    glPointSize(4);
    glEnable(GL_POINT_SMOOTH);
    glColor4f(0.8f, 0.8f, 0.8f, 0.8f);
    glBegin(GL_POINTS);
    for (const auto& s : starts)
        glVertex3f(s[0], s[1], s[2]);
    glEnd();

    glColor4f(1, 1, 1, 1);
    // Left on, the additive blend would reach whatever draws next.
    glDisable(GL_BLEND);
    glPointSize(1);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_POINT_SMOOTH);
    glDisable(GL_LINE_SMOOTH);
    glLineWidth(1);
}
