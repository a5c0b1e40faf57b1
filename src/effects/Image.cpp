#include "effects/Image.h"

#include "platform/GL.h"
#include "resources/ScreenQuad.h"
#include "resources/Texture.h"

namespace {
Texture* loadPicture(const std::string& name) {
    return TextureManager::instance().loadTexture(name, "", GL_TEXTURE_2D);
}
} // namespace

Image::Image(const std::string& scriptName) : Effect(scriptName) {
    registerVariable(red, "Red", NoList, KindFloat);
    registerVariable(green, "Green", NoList, KindFloat);
    registerVariable(blue, "Blue", NoList, KindFloat);
    registerVariable(alpha, "Alpha", NoList, KindFloat);
    registerVariable(blendMultiply, "BlendMultipy", NoList, KindBool);
    registerVariable(blendAdd, "BlendAdd", NoList, KindBool);
    registerVariable(datafile, "Datafile", 0, KindInt);
}

void Image::start(int time) {
    Effect::start(time);
    translation = {0, 0, 0};
    rotation = {0, 0, 0};
    scale = {1, 1, 1};
    scrollSpeed = rotationSpeed = scaleSpeed = {0, 0, 0};
    alphaBoost = 0.0f;
    beatFactor = 0.0f;
    addWithAlpha = false;
    grow = true;
}

void Image::prepare(int time) {
    const int index = static_cast<int>(datafile.valueAt(time));
    if (index == loadedIndex) return;
    // An index outside the list names no picture: keep the one shown rather than lose it.
    const std::string name = listItem(0, index);
    if (name.empty()) return;
    texture = loadPicture(name);
    loadedIndex = index;
}

void Image::signal(const Signal& s) {
    Effect::signal(s);
    const Vec3 v{s.values[0], s.values[1], s.values[2]};
    switch (s.type) {
    case 5:
        alphaBoost = beatFactor * s.value;
        break;
    case 7:
        translation = v;
        break;
    case 8:
        rotation = v;
        break;
    case 9:
        scale = v;
        break;
    case 10:
        scrollSpeed = v;
        break;
    case 11:
        rotationSpeed = v;
        break;
    case 12:
        scaleSpeed = v;
        break;
    case 23:
        grow = true;
        break;
    case 24:
        grow = false;
        break;
    case 26:
        texture = signalled.load(s.text);
        break;
    case 28:
        beatFactor = s.value;
        break;
    case 29:
        alpha.value = s.value;
        break; // unclamped, unlike set()
    case 30:
        subtract = s.value > 0;
        break;
    case 32:
        addWithAlpha = s.value > 0;
        break;
    default:
        break; // 13 and 14 are accepted and do nothing
    }
}

void Image::warmUp() {
    signalled.preload(queuedSignalTexts(26));
}

void Image::listItemAdded(int listId, const std::string& item, int count) {
    if (listId != 0) return;
    texture = loadPicture(item);
    datafile.count = count;
}

void Image::render(int time) {
    glDepthMask(GL_FALSE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    if (blendMultiply.valueAt(time) > 0) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    if (blendAdd.valueAt(time) > 0) {
        glEnable(GL_BLEND);
        glBlendFunc(addWithAlpha ? GL_SRC_ALPHA : GL_ONE, GL_ONE);
    }
    if (subtract) {
        glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
    }
    glColor4f(red.valueAt(time), green.valueAt(time), blue.valueAt(time), alpha.valueAt(time) + alphaBoost);

    setOrthoYUp();
    glLoadIdentity();
    const float p = phase;
    glTranslatef(translation.x, translation.y, translation.z);
    glTranslatef(0.5f, 0.5f, 0.0f);
    glRotatef(rotationSpeed.x * p + rotation.x, 1, 0, 0);
    glRotatef(rotationSpeed.y * p + rotation.y, 0, 1, 0);
    glRotatef(rotationSpeed.z * p + rotation.z, 0, 0, 1);
    const float sign = grow ? 1.0f : -1.0f;
    glScalef(scale.x + sign * scaleSpeed.x * p, scale.y + sign * scaleSpeed.y * p,
             scale.z + sign * scaleSpeed.z * p);
    glTranslatef(-0.5f, -0.5f, 0.0f);

    // Without a picture the quad is plain colour, whatever texturing an earlier effect left on.
    if (!texture) glDisable(GL_TEXTURE_2D);
    drawTexturedQuad(texture, ScreenRect{scrollSpeed.x * p, scrollSpeed.y * p, 1, 1});

    glColor4f(1, 1, 1, 1);
    glDisable(GL_BLEND);
    glDepthMask(GL_TRUE);
    glEnable(GL_DEPTH_TEST);
    glBlendEquation(GL_FUNC_ADD);
}
