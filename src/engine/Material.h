// How a mesh is shaded: colours, opacity, textures and the fixed-function set-up (one of a few
// shade models) that realises them. apply() and restore() bracket every draw of a mesh.
#pragma once

#include "engine/Math3D.h"

#include <cstdint>
#include <string>

class Texture;
class PBuffer;

class Material {
  public:
    Material(int32_t id, const std::string& name);

    int32_t id() const { return id_; }
    const std::string& name() const { return name_; }

    void setAmbient(const ColorRGBA& c) { ambient_ = c; }
    void setDiffuse(const ColorRGBA& c) { diffuse_ = c; }
    void setSpecular(const ColorRGBA& c) { specular_ = c; }
    // Shininess from the file's 0..1 value (× 128) and the specular level.
    void setShininess(float value, float specularLevel);
    void setOpacity(float opacity);
    void setAdditive(bool additive);
    // Two-sided drawing is not supported; kept for the loader.
    void setTwoSided(bool twoSided) { twoSided_ = twoSided; }

    void setBaseTexture(Texture* t) { baseTexture_ = t; }
    void setEnvironmentTexture(Texture* t) { environmentTexture_ = t; }
    void setDetailTexture(Texture* t) { detailTexture_ = t; }
    void setBumpTexture(Texture* t) { bumpTexture_ = t; }
    // Writes the opacity image's brightness into the base texture's alpha (same sizes only) and
    // switches alpha testing on.
    void setOpacityTexture(Texture* t);
    // Draws a render target's colour on the mesh, unlit (shade model 13).
    void setPBuffer(PBuffer* pbuffer);
    void setShadeModel(int model) { shadeModel_ = model; }

    // Chooses the shade model from the textures present and the coordinate sets it needs.
    void finishTextures();

    void apply();
    void restore();

    const ColorRGBA& ambient() const { return ambient_; }
    const ColorRGBA& diffuse() const { return diffuse_; }
    const ColorRGBA& specular() const { return specular_; }
    float shininess() const { return shininess_; }
    float specularLevel() const { return specularLevel_; }
    float opacity() const { return opacity_; }
    int shadeModel() const { return shadeModel_; }
    bool alphaTest() const { return alphaTest_; }
    bool additive() const { return additive_; }
    bool transparent() const { return transparent_; }
    bool lit() const { return lit_; }
    bool usesSet0() const { return usesSet0_; }
    bool usesSet1() const { return usesSet1_; }
    bool needsEnvironmentCoordinates() const { return needsEnvironmentCoordinates_; }
    bool usesSeveralUnits() const { return usesSeveralUnits_; }
    bool hasBumpTexture() const { return bumpTexture_ != nullptr; }
    bool twoSided() const { return twoSided_; }
    Texture* baseTexture() const { return baseTexture_; }
    Texture* environmentTexture() const { return environmentTexture_; }
    Texture* detailTexture() const { return detailTexture_; }
    Texture* bumpTexture() const { return bumpTexture_; }
    Texture* normalisationCubeMap() const { return normalisationCubeMap_; }
    PBuffer* pbuffer() const { return pbuffer_; }

    // The process-wide cube map that turns a direction into its unit vector as RGB (registered
    // as "NormalisationCubeMap"); made on first use.
    static Texture* sharedNormalisationCubeMap();

  private:
    void applyColours(bool ambientAlphaOne, bool diffuseBothSides);
    void applySpecular();

    int32_t id_;
    std::string name_;
    ColorRGBA ambient_{0.2f, 0.2f, 0.2f, 1.0f};
    ColorRGBA diffuse_{0.8f, 0.8f, 0.8f, 1.0f};
    ColorRGBA specular_{0.0f, 0.0f, 0.0f, 1.0f};
    float shininess_ = 50.0f;
    float specularLevel_ = 0.0f;
    float opacity_ = 1.0f;
    Texture* baseTexture_ = nullptr;
    Texture* environmentTexture_ = nullptr;
    Texture* detailTexture_ = nullptr;
    Texture* bumpTexture_ = nullptr;
    Texture* normalisationCubeMap_ = nullptr;
    PBuffer* pbuffer_ = nullptr;
    int shadeModel_ = 0;
    bool alphaTest_ = false;
    bool additive_ = false;
    bool transparent_ = false;
    bool usesSet0_ = false;
    bool usesSet1_ = false;
    bool needsEnvironmentCoordinates_ = false;
    bool usesSeveralUnits_ = false;
    bool lit_ = false;
    bool twoSided_ = false;
};
