#include "engine/Light.h"

#include "base/Report.h"
#include "demo/Random.h"
#include "platform/GL.h"
#include "resources/PBuffer.h"

Light::Light(int32_t id, const std::string& name) : SceneObject(id, name) {
    maxLights();
}

int Light::maxLights() {
    static int count = 0;
    if (count == 0) {
        GLint value = 0;
        glGetIntegerv(GL_MAX_LIGHTS, &value);
        count = value > 0 ? value : 8;
    }
    return count;
}

unsigned Light::glLight() const {
    return lightNumber_ < 0 ? 0u : static_cast<unsigned>(GL_LIGHT0 + lightNumber_);
}

SceneObject* Light::clone() const {
    Light* copy = new Light(id_, name_);
    copyInto(*copy);
    copy->ambient_ = ambient_;
    copy->diffuse_ = diffuse_;
    copy->specular_ = specular_;
    copy->constantAttenuation_ = constantAttenuation_;
    copy->linearAttenuation_ = linearAttenuation_;
    copy->quadraticAttenuation_ = quadraticAttenuation_;
    copy->cutOff_ = cutOff_;
    copy->exponent_ = exponent_;
    copy->enabled_ = enabled_;
    copy->lightNumber_ = lightNumber_;
    copy->targetId_ = targetId_;
    copy->target_ = target_;
    copy->flicker_ = flicker_;
    copy->flickerBase_ = flickerBase_;
    copy->shadowCaster_ = shadowCaster_;
    copy->texture_ = texture_;
    return copy;
}

void Light::setColour(const ColorRGBA& c) {
    ambient_ = diffuse_ = specular_ = c;
    ambient_.r *= 0.3f;
    ambient_.g *= 0.3f;
    ambient_.b *= 0.3f;
}

void Light::setLinearAttenuation(float v) {
    linearAttenuation_ = v;
    // Before the scene numbers the light there is no GL light to send it to; apply() sends it.
    if (lightNumber_ >= 0) glLightf(glLight(), GL_LINEAR_ATTENUATION, v);
}

void Light::setRange(float range) {
    setLinearAttenuation(range > 0.0f ? 1.0f / (0.5f * range) : 0.0f);
}

void Light::setCutOff(float degrees) {
    if (degrees != 180.0f && degrees > 90.0f) degrees = 90.0f;
    if (degrees < 0.0f) degrees = 0.0f;
    cutOff_ = degrees;
}

void Light::setExponent(float exponent) {
    if (exponent > 128.0f) exponent = 128.0f;
    if (exponent < 0.0f) exponent = 0.0f;
    exponent_ = exponent;
}

void Light::setTexture(Texture* texture) {
    texture_ = texture;
    enabled_ = false;
}

void Light::setEnabled(bool enabled) {
    enabled_ = enabled;
    if (lightNumber_ < 0) return;
    if (enabled)
        glEnable(glLight());
    else
        glDisable(glLight());
}

void Light::setFlicker(bool flicker) {
    flicker_ = flicker;
    if (flicker) return;
    diffuse_ = flickerBase_;
    if (lightNumber_ < 0) return;
    PBuffer::lightsInUse();
    glLightfv(glLight(), GL_DIFFUSE, diffuse_.data());
}

void Light::applyColours() {
    if (lightNumber_ < 0) return;
    const GLenum light = glLight();
    PBuffer::lightsInUse();
    glLightfv(light, GL_AMBIENT, ambient_.data());
    glLightfv(light, GL_DIFFUSE, diffuse_.data());
    glLightfv(light, GL_SPECULAR, specular_.data());
    if (enabled_)
        glEnable(light);
    else
        glDisable(light);
    // A number past the driver's lights fails here, named by the GL error it raises.
    if (lightNumber_ >= maxLights()) checkGLError(__FILE__, __LINE__);
}

void Light::apply() {
    if (lightNumber_ < 0) return;
    PBuffer::lightsInUse();
    const GLenum light = glLight();
    if (!enabled_) {
        glDisable(light);
        if (lightNumber_ >= maxLights()) checkGLError(__FILE__, __LINE__);
        return;
    }
    if (flicker_) {
        const float k = Random::unit();
        diffuse_ = ColorRGBA(flickerBase_.r * k, flickerBase_.g * k, flickerBase_.b * k, flickerBase_.a);
        glLightfv(light, GL_DIFFUSE, diffuse_.data());
    }
    glEnable(light);
    const float position[4] = {position_.x, position_.y, position_.z, 1.0f};
    glLightfv(light, GL_POSITION, position);
    glLightf(light, GL_CONSTANT_ATTENUATION, constantAttenuation_);
    glLightf(light, GL_LINEAR_ATTENUATION, linearAttenuation_);
    glLightf(light, GL_QUADRATIC_ATTENUATION, quadraticAttenuation_);
    Vector3 direction(0.0f, 0.0f, -1.0f);
    if (target_) direction = target_->worldPosition() - worldPosition();
    const float spot[3] = {direction.x, direction.y, direction.z};
    glLightfv(light, GL_SPOT_DIRECTION, spot);
    glLightf(light, GL_SPOT_CUTOFF, cutOff_);
    glLightf(light, GL_SPOT_EXPONENT, exponent_);
    if (lightNumber_ >= maxLights()) checkGLError(__FILE__, __LINE__);
}
