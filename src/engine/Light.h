// A GL light placed in the scene graph: colours, attenuation, spot cone, an optional target it
// points at, flicker and the shadow-caster role. Draws nothing.
#pragma once

#include "engine/SceneObject.h"

class Texture;

class Light : public SceneObject {
  public:
    Light(int32_t id, const std::string& name);

    SceneObject* clone() const override;

    // Ambient, diffuse and specular to c, then the ambient's colour scaled by 0.3.
    void setColour(const ColorRGBA& c);
    void setAmbient(const ColorRGBA& c) { ambient_ = c; }
    void setDiffuse(const ColorRGBA& c) { diffuse_ = c; }
    void setSpecular(const ColorRGBA& c) { specular_ = c; }
    void setConstantAttenuation(float v) { constantAttenuation_ = v; }
    // Sent to GL at once when the light already has its GL number.
    void setLinearAttenuation(float v);
    void setQuadraticAttenuation(float v) { quadraticAttenuation_ = v; }
    // Linear attenuation 1 / (0.5 × range) for a positive range, else 0.
    void setRange(float range);
    // 180 is kept; above 90 becomes 90, below 0 becomes 0.
    void setCutOff(float degrees);
    // Clamped to 0..128.
    void setExponent(float exponent);
    void setTargetId(int32_t id) { targetId_ = id; }
    void setTarget(SceneObject* target) { target_ = target; }
    // Keeps the texture and switches the light off.
    void setTexture(Texture* texture);
    void setEnabled(bool enabled);
    void setFlicker(bool flicker);
    void setShadowCaster(bool caster) { shadowCaster_ = caster; }
    // The scene gives the number (the index in its light list); -1 = no GL light yet.
    void setLightNumber(int number) { lightNumber_ = number; }

    // Colours to GL and the light switched on or off by the enabled flag.
    void applyColours();
    // Per frame, in the camera's view: position, attenuation, spot; flicker.
    void apply();

    const ColorRGBA& ambient() const { return ambient_; }
    const ColorRGBA& diffuse() const { return diffuse_; }
    const ColorRGBA& specular() const { return specular_; }
    float constantAttenuation() const { return constantAttenuation_; }
    float linearAttenuation() const { return linearAttenuation_; }
    float quadraticAttenuation() const { return quadraticAttenuation_; }
    float cutOff() const { return cutOff_; }
    float exponent() const { return exponent_; }
    bool enabled() const { return enabled_; }
    bool flicker() const { return flicker_; }
    const ColorRGBA& flickerBase() const { return flickerBase_; }
    bool shadowCaster() const { return shadowCaster_; }
    bool hasTexture() const { return texture_ != nullptr; }
    Texture* texture() const { return texture_; }
    int32_t targetId() const { return targetId_; }
    SceneObject* target() const { return target_; }
    int lightNumber() const { return lightNumber_; }
    // GL_LIGHT0 + number, or 0 when the light has no usable number.
    unsigned glLight() const;

    // GL_MAX_LIGHTS, read when the first light is made.
    static int maxLights();

  private:
    ColorRGBA ambient_{0.2f, 0.2f, 0.2f, 1.0f};
    ColorRGBA diffuse_{0.8f, 0.8f, 0.8f, 1.0f};
    ColorRGBA specular_{1.0f, 1.0f, 1.0f, 1.0f};
    float constantAttenuation_ = 1.0f;
    float linearAttenuation_ = 0.0f;
    float quadraticAttenuation_ = 0.0f;
    float cutOff_ = 180.0f;
    float exponent_ = 0.0f;
    bool enabled_ = true;
    int lightNumber_ = -1;
    int32_t targetId_ = -1;
    SceneObject* target_ = nullptr;
    bool flicker_ = false;
    ColorRGBA flickerBase_{1.0f, 1.0f, 1.0f, 1.0f};
    bool shadowCaster_ = false;
    Texture* texture_ = nullptr;
};
