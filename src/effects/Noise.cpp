#include "effects/Noise.h"

#include "demo/Random.h"
#include "platform/GL.h"
#include "resources/Texture.h"
#include "resources/TextureTools.h"

namespace {
Texture* makeNoiseTexture(const char* name, int size) {
    // Every texel's four channels are one value, so luminance + alpha stores the same texels in half
    // the memory and samples to the same colours under every texture environment but GL_DECAL,
    // which nothing uses.
    Texture* texture =
        TextureManager::instance().createTexture(name, size, size, GL_TEXTURE_2D, GL_LUMINANCE8_ALPHA8);
    if (texture) texture->setFilter(GL_NEAREST, GL_NEAREST);
    TextureTools::clearTexture(texture);
    TextureTools::randomizeTexture(texture);
    return texture;
}
} // namespace

Noise::Noise() : Effect("Noise") {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(animate, "Animate", NoList, KindBool);
    noise1 = makeNoiseTexture("noisetexture", 1024);
    noise2 = makeNoiseTexture("noisetexture2", 512);
}

ScreenRect& Noise::textureRect() {
    static ScreenRect rect{0.0f, 0.0f, 1.0f, 1.0f};
    return rect;
}

void Noise::signal(const Signal& s) {
    Effect::signal(s);
    switch (s.type) {
    case 5:
        alphaBoost = beatFactor * s.value;
        break;
    case 28:
        beatFactor = s.value;
        break;
    default:
        break;
    }
}

void Noise::render(int time) {
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time) + alphaBoost);

    ScreenRect& rect = textureRect();
    if (animate.valueAt(time) > 0) {
        rect.x = Random::unit();
        rect.y = Random::unit();
    }
    setOrthoYUp();
    drawTexturedQuadTexRect(noise1, ScreenRect{0, 0, 1, 1}, rect);
    drawTexturedQuadTexRect(noise2, ScreenRect{0, 0, 1, 1}, rect);

    glColor4f(1, 1, 1, 1);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
}
