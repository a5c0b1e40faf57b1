#include "sceneimport/Materials.h"

#include "sceneimport/ImportFiles.h"
#include "sceneimport/TextureCopier.h"

#include <assimp/material.h>

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

namespace sceneimport {

using namespace scenefile;

namespace {

bool isBlack(const aiColor3D& c) {
    return c.r <= 0 && c.g <= 0 && c.b <= 0;
}

std::string textureReference(const aiMaterial* m, aiTextureType type, unsigned* uvSource = nullptr) {
    if (m->GetTextureCount(type) == 0) return "";
    aiString path;
    if (m->GetTexture(type, 0, &path) != AI_SUCCESS) return "";
    if (uvSource) {
        int source = 0;
        *uvSource = m->Get(AI_MATKEY_UVWSRC(type, 0), source) == AI_SUCCESS && source > 0 ? source : 0;
    }
    return path.C_Str();
}

float clamp01(float v) {
    return std::isfinite(v) ? std::min(1.0f, std::max(0.0f, v)) : 0.0f;
}

} // namespace

Material convertMaterial(const aiMaterial* from, int32_t id, TextureCopier& textures) {
    Material m;
    m.id = id;
    aiString name;
    m.name = from->Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length ? name.C_Str()
                                                                          : "Material" + std::to_string(id);
    m.name = m.name.substr(0, std::min(m.name.find('\0'), MaxNameLength));
    const char* label = m.name.c_str();

    aiColor3D c;
    if (from->Get(AI_MATKEY_COLOR_DIFFUSE, c) == AI_SUCCESS) m.diffuse = {c.r, c.g, c.b};
    // Without an ambient colour of its own a surface keeps its colour in the lights' ambient share.
    m.ambient = m.diffuse;
    if (from->Get(AI_MATKEY_COLOR_AMBIENT, c) == AI_SUCCESS && !isBlack(c)) m.ambient = {c.r, c.g, c.b};
    if (from->Get(AI_MATKEY_COLOR_SPECULAR, c) == AI_SUCCESS) m.specular = {c.r, c.g, c.b};
    float f = 0;
    if (from->Get(AI_MATKEY_OPACITY, f) == AI_SUCCESS) m.opacity = clamp01(f);
    if (from->Get(AI_MATKEY_SHININESS, f) == AI_SUCCESS) m.shininess = clamp01(f / 128.0f);
    if (from->Get(AI_MATKEY_SHININESS_STRENGTH, f) == AI_SUCCESS && std::isfinite(f)) m.specularLevel = f;

    unsigned diffuseSource = 0;
    std::string diffuse = textureReference(from, aiTextureType_DIFFUSE, &diffuseSource);
    if (diffuse.empty()) diffuse = textureReference(from, aiTextureType_BASE_COLOR, &diffuseSource);
    std::string emissive = textureReference(from, aiTextureType_EMISSIVE);
    if (emissive.empty()) emissive = textureReference(from, aiTextureType_EMISSION_COLOR);
    std::string normals = textureReference(from, aiTextureType_NORMALS);
    if (normals.empty()) normals = textureReference(from, aiTextureType_HEIGHT); // OBJ's bump
    const std::string opacity = textureReference(from, aiTextureType_OPACITY);
    const std::string reflection = textureReference(from, aiTextureType_REFLECTION);

    auto add = [&](const std::string& reference, int32_t type) {
        std::string placed = textures.place(reference);
        if (!placed.empty()) m.textures.push_back({placed, type});
        return !placed.empty();
    };
    bool base = false;
    if (!diffuse.empty()) {
        base = add(diffuse, DiffuseMap);
        if (diffuseSource)
            warn("material %s: its colour map uses coordinate set %u; drawn with set 0", label,
                 diffuseSource);
    }
    if (!emissive.empty()) {
        // A glow map alone becomes an additive base texture; next to a colour map it has no place.
        if (diffuse.empty())
            base = add(emissive, RefractionMap);
        else
            warn("material %s: emissive map not carried over (it has a colour map)", label);
    }
    if (from->Get(AI_MATKEY_COLOR_EMISSIVE, c) == AI_SUCCESS && !isBlack(c) && emissive.empty())
        warn("material %s: emissive colour not carried over", label);
    if (!opacity.empty()) {
        add(opacity, OpacityMap);
        if (!base) warn("material %s: an opacity map needs a colour map of the same size to cut out", label);
    }
    if (!normals.empty()) {
        add(normals, BumpMap);
        if (base || reflection.empty())
            warn("material %s: its normal map is kept as a bump map, which is drawn only with a reflection "
                 "map and no colour map",
                 label);
    }
    if (!reflection.empty()) add(reflection, ReflectionMap);

    static const aiTextureType dropped[] = {
        aiTextureType_SPECULAR,          aiTextureType_AMBIENT,           aiTextureType_SHININESS,
        aiTextureType_DISPLACEMENT,      aiTextureType_LIGHTMAP,          aiTextureType_METALNESS,
        aiTextureType_DIFFUSE_ROUGHNESS, aiTextureType_AMBIENT_OCCLUSION, aiTextureType_SHEEN,
        aiTextureType_CLEARCOAT,         aiTextureType_TRANSMISSION,      aiTextureType_UNKNOWN};
    std::set<std::string> seen; // one texture may sit in several slots (metal-roughness does)
    for (aiTextureType type : dropped) {
        std::string ref = textureReference(from, type);
        if (ref.empty() || !seen.insert(std::string(aiTextureTypeToString(type))).second) continue;
        warn("material %s: %s map not carried over", label, lower(aiTextureTypeToString(type)).c_str());
    }
    return m;
}

} // namespace sceneimport
