#include "engine/Material.h"

#include "base/Report.h"
#include "platform/GL.h"
#include "resources/PBuffer.h"
#include "resources/Texture.h"

#include <cmath>
#include <vector>

Material::Material(int32_t id, const std::string& name) : id_(id), name_(name) {}

void Material::setShininess(float value, float specularLevel) {
    shininess_ = value * 128.0f;
    specularLevel_ = specularLevel;
}

void Material::setOpacity(float opacity) {
    opacity_ = opacity;
    transparent_ = additive_ || opacity_ < 1.0f;
}

void Material::setAdditive(bool additive) {
    additive_ = additive;
    transparent_ = additive_ || opacity_ < 1.0f;
}

void Material::setPBuffer(PBuffer* pbuffer) {
    pbuffer_ = pbuffer;
    shadeModel_ = 13;
}

void Material::setOpacityTexture(Texture* opacity) {
    alphaTest_ = true;
    if (!baseTexture_ || !opacity) return;
    baseTexture_->applyAlphaMask(opacity);
}

void Material::finishTextures() {
    usesSet0_ = usesSet1_ = needsEnvironmentCoordinates_ = usesSeveralUnits_ = lit_ = false;
    if (baseTexture_) {
        if (environmentTexture_) {
            shadeModel_ = 4;
            usesSet0_ = needsEnvironmentCoordinates_ = usesSeveralUnits_ = true;
        } else if (detailTexture_) {
            shadeModel_ = 5;
            usesSet0_ = usesSet1_ = usesSeveralUnits_ = true;
        } else {
            shadeModel_ = 1;
            usesSet0_ = lit_ = true;
        }
    } else if (detailTexture_) {
        shadeModel_ = 6;
        usesSet1_ = true;
    } else if (environmentTexture_) {
        if (bumpTexture_) {
            shadeModel_ = 8;
            needsEnvironmentCoordinates_ = usesSeveralUnits_ = true;
            normalisationCubeMap_ = sharedNormalisationCubeMap();
        } else {
            shadeModel_ = 2;
            needsEnvironmentCoordinates_ = lit_ = true;
        }
    } else if (pbuffer_) {
        shadeModel_ = 13;
    } else {
        shadeModel_ = 0;
        lit_ = true;
    }
    checkGLError(__FILE__, __LINE__);
}

void Material::applyColours(bool ambientAlphaOne, bool diffuseBothSides) {
    const float ambient[4] = {ambient_.r, ambient_.g, ambient_.b, ambientAlphaOne ? 1.0f : 0.0f};
    const float diffuse[4] = {diffuse_.r, diffuse_.g, diffuse_.b, opacity_};
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(diffuseBothSides ? GL_FRONT_AND_BACK : GL_FRONT, GL_DIFFUSE, diffuse);
}

void Material::applySpecular() {
    const float specular[4] = {specular_.r * specularLevel_, specular_.g * specularLevel_,
                               specular_.b * specularLevel_, 1.0f};
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular);
    // GL refuses exponents above 128.
    glMaterialf(GL_FRONT, GL_SHININESS,
                shininess_ < 0.0f ? 0.0f : (shininess_ > 128.0f ? 128.0f : shininess_));
}

namespace {
void bindOn(GLenum unit, Texture* texture) {
    glActiveTextureARB(unit);
    if (texture) texture->bind();
}
} // namespace

void Material::apply() {
    glPushAttrib(0x000FFFFF); // every attribute group, the texture units included
    if (shadeModel_ > 13 || shadeModel_ < 0) {
        reportErrorInt(__FILE__, __LINE__, "Material cannot handle this shademodel", shadeModel_, true);
        return;
    }
    switch (shadeModel_) {
    case 0:
        applyColours(true, true);
        applySpecular();
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glDisable(GL_TEXTURE_2D);
        break;
    case 1:
        if (!baseTexture_) break;
        applyColours(false, false);
        applySpecular();
        bindOn(GL_TEXTURE0_ARB, baseTexture_);
        glEnable(GL_TEXTURE_2D);
        glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
        break;
    case 4:
        if (!baseTexture_ || !environmentTexture_) break;
        bindOn(GL_TEXTURE0_ARB, baseTexture_);
        glEnable(GL_TEXTURE_2D);
        bindOn(GL_TEXTURE1_ARB, environmentTexture_);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_ADD);
        glEnable(GL_TEXTURE_2D);
        break;
    case 5:
        if (!baseTexture_ || !detailTexture_) break;
        bindOn(GL_TEXTURE0_ARB, baseTexture_);
        glEnable(GL_TEXTURE_2D);
        bindOn(GL_TEXTURE1_ARB, detailTexture_);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
        break;
    case 6:
        bindOn(GL_TEXTURE0_ARB, detailTexture_);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        glEnable(GL_TEXTURE_2D);
        break;
    case 8:
        if (!environmentTexture_ || !bumpTexture_) break;
        if (!normalisationCubeMap_) normalisationCubeMap_ = sharedNormalisationCubeMap();
        // Unit 0 passes the normal-map texel on, unit 1 dots it with the normalised per-vertex
        // light vector, unit 2 modulates the result with the environment.
        bindOn(GL_TEXTURE0_ARB, bumpTexture_);
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE_ARB);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB_ARB, GL_TEXTURE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB_ARB, GL_REPLACE);
        glActiveTextureARB(GL_TEXTURE1_ARB);
        if (normalisationCubeMap_) glBindTexture(GL_TEXTURE_CUBE_MAP, normalisationCubeMap_->id);
        glEnable(GL_TEXTURE_CUBE_MAP);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_COMBINE_ARB);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE0_RGB_ARB, GL_TEXTURE);
        glTexEnvi(GL_TEXTURE_ENV, GL_COMBINE_RGB_ARB, GL_DOT3_RGB_ARB);
        glTexEnvi(GL_TEXTURE_ENV, GL_SOURCE1_RGB_ARB, GL_PREVIOUS_ARB);
        bindOn(GL_TEXTURE2_ARB, environmentTexture_);
        glEnable(GL_TEXTURE_2D);
        glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        break;
    case 13:
        // A render target drawn on a mesh: its own texture stands for the base texture.
        if (!baseTexture_ && !pbuffer_) break;
        applyColours(false, false);
        applySpecular();
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glEnable(GL_TEXTURE_2D);
        if (pbuffer_) pbuffer_->bind(WGL_FRONT_LEFT_ARB);
        glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
        glDisable(GL_LIGHTING);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        break;
    default: // 2 and the models without a set-up of their own
        if (environmentTexture_) {
            glActiveTextureARB(GL_TEXTURE1_ARB);
            glDisable(GL_TEXTURE_2D);
            bindOn(GL_TEXTURE0_ARB, environmentTexture_);
            glEnable(GL_TEXTURE_2D);
        }
        applyColours(false, false);
        break;
    }
    glActiveTextureARB(GL_TEXTURE0_ARB);
    if (lit_)
        glEnable(GL_LIGHTING);
    else
        glDisable(GL_LIGHTING);
    if (alphaTest_) {
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.0f);
    }
    if (opacity_ < 1.0f) {
        glDepthMask(GL_FALSE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    glEnable(GL_CULL_FACE);
    if (additive_) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
    }
    checkGLError(__FILE__, __LINE__);
}

void Material::restore() {
    glPopAttrib();
    if (shadeModel_ == 13) {
        if (pbuffer_) pbuffer_->release(WGL_FRONT_LEFT_ARB);
        glEnable(GL_LIGHTING);
    }
}

Texture* Material::sharedNormalisationCubeMap() {
    static const char* const name = "NormalisationCubeMap";
    // Looked up each time: whoever empties the registry also takes the cube map with it.
    if (const auto* entry = TextureManager::instance().find(name))
        if (entry->object) return entry->object;
    const int size = 64;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_CUBE_MAP, &previous);
    const bool wasEnabled = glIsEnabled(GL_TEXTURE_CUBE_MAP);
    Texture* cubeMap =
        TextureManager::instance().createTexture(name, size, size, GL_TEXTURE_CUBE_MAP, GL_RGBA);
    if (!cubeMap) return nullptr;
    // Each texel holds the unit vector towards its own direction, packed as 0.5 + 0.5 v.
    std::vector<unsigned char> texels(static_cast<size_t>(size) * size * 4);
    for (int face = 0; face < 6; ++face) {
        for (int row = 0; row < size; ++row) {
            for (int col = 0; col < size; ++col) {
                const float s = (col + 0.5f) / size * 2.0f - 1.0f;
                const float t = (row + 0.5f) / size * 2.0f - 1.0f;
                Vector3 d;
                switch (face) {
                case 0:
                    d = Vector3(1.0f, -t, -s);
                    break;
                case 1:
                    d = Vector3(-1.0f, -t, s);
                    break;
                case 2:
                    d = Vector3(s, 1.0f, t);
                    break;
                case 3:
                    d = Vector3(s, -1.0f, -t);
                    break;
                case 4:
                    d = Vector3(s, -t, 1.0f);
                    break;
                default:
                    d = Vector3(-s, -t, -1.0f);
                    break;
                }
                d.normalize();
                unsigned char* texel = &texels[(static_cast<size_t>(row) * size + col) * 4];
                texel[0] = static_cast<unsigned char>(std::lround((d.x * 0.5f + 0.5f) * 255.0f));
                texel[1] = static_cast<unsigned char>(std::lround((d.y * 0.5f + 0.5f) * 255.0f));
                texel[2] = static_cast<unsigned char>(std::lround((d.z * 0.5f + 0.5f) * 255.0f));
                texel[3] = 255;
            }
        }
        glBindTexture(GL_TEXTURE_CUBE_MAP, cubeMap->id);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glTexImage2D(GL_TEXTURE_CUBE_MAP_POSITIVE_X + face, 0, GL_RGBA8, size, size, 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, texels.data());
    }
    glBindTexture(GL_TEXTURE_CUBE_MAP, static_cast<GLuint>(previous));
    if (wasEnabled) glEnable(GL_TEXTURE_CUBE_MAP);
    checkGLError(__FILE__, __LINE__);
    return cubeMap;
}
