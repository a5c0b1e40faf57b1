#include "scene/SceneJson.h"

#include "common/JsonWriter.h"
#include "engine/SceneFile.h"

#include <algorithm>
#include <array>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using namespace scenefile;

namespace {

const char* slotName(int32_t type) {
    static const char* names[] = {
        "ambient", "diffuse", "specular", "shininess",  "shininess strength", "self-illumination",
        "opacity", "filter",  "bump",     "reflection", "refraction",         "displacement"};
    if (type < 0) return "unsupported";
    return type <= DisplacementMap ? names[type] : "ignored";
}

// The shade model a material chooses when every applied texture is found.
int shadeModel(const Material& m) {
    bool base = false, environment = false, detail = false, bump = false;
    for (const TextureSlot& slot : appliedTextureSlots(m)) {
        if (slot.name.empty()) continue;
        base |= slot.type == DiffuseMap || slot.type == RefractionMap;
        environment |= slot.type == ReflectionMap;
        detail |= slot.type == FilterMap;
        bump |= slot.type == BumpMap;
    }
    if (base) return environment ? 4 : detail ? 5 : 1;
    if (detail) return 6;
    if (environment) return bump ? 8 : 2;
    return 0;
}

template <size_t N> void floats(Json& j, const std::array<float, N>& v) {
    j.raw("[");
    for (size_t i = 0; i < N; ++i) {
        if (i) j.raw(",");
        j.num(v[i]);
    }
    j.raw("]");
}

void field(Json& j, const char* name, bool first = false) {
    if (!first) j.raw(",");
    j.key(name);
}

struct ObjectView {
    const char* kind;
    const ObjectHeader* header; // null for bare objects
    int32_t id;
    const std::string* name;
    const Chunk* chunk;
};

void writeMaterial(Json& j, const Material& m) {
    j.raw("{");
    field(j, "id", true), j.num(m.id);
    field(j, "name"), j.str(m.name);
    field(j, "diffuse"), floats(j, m.diffuse);
    field(j, "ambient"), floats(j, m.ambient);
    field(j, "specular"), floats(j, m.specular);
    field(j, "opacity"), j.num(m.opacity);
    field(j, "shininess"), j.num(m.shininess);
    field(j, "specularLevel"), j.num(m.specularLevel);
    field(j, "shadeModel"), j.num(shadeModel(m));
    field(j, "transparent"), j.boolean(m.opacity < 1);
    field(j, "textures"), j.raw("[");
    std::unordered_set<int32_t> seen;
    for (size_t i = 0; i < m.textures.size(); ++i) {
        const TextureSlot& slot = m.textures[i];
        // Of several slots with one type only the first is applied; types above 11 never are
        // (negative ones are looked up and reported as unsupported).
        const bool used = slot.type <= DisplacementMap && seen.insert(slot.type).second;
        if (i) j.raw(",");
        j.raw("{");
        field(j, "type", true), j.num(slot.type);
        field(j, "slot"), j.str(slotName(slot.type));
        field(j, "name"), j.str(slot.name);
        const std::string lookup = textureLookupName(slot.name, false);
        field(j, "lookup"), j.str(lookup);
        field(j, "applied"), j.boolean(used);
        // Only where it applies: the player refuses a lookup name that leads out of its folder.
        if (!storedPathProblem(lookup).empty()) field(j, "outsideDemo"), j.boolean(true);
        j.raw("}");
    }
    j.raw("]}");
}

// The transform an animated object is drawn with at a frame: its keys there (the last key past
// the end), the rest value for tracks it lacks.
void writeFrame(Json& j, const ObjectHeader& h, int32_t frame) {
    const int32_t keys = h.keyCount();
    const size_t k = static_cast<size_t>(std::min(frame, keys - 1));
    field(j, "at"), j.raw("{");
    field(j, "frame", true), j.num(static_cast<int>(k));
    field(j, "position"), floats(j, h.positionKeys.empty() ? h.position : h.positionKeys[k]);
    field(j, "rotation"), floats(j, h.rotationKeys.empty() ? h.rotation : h.rotationKeys[k]);
    field(j, "scale"), floats(j, h.scaleKeys.empty() ? h.scale : h.scaleKeys[k]);
    j.raw("}");
}

// Who is whose child, found once for the whole file: scenes may hold many objects.
struct Family {
    std::unordered_set<int32_t> ids;
    std::unordered_map<int32_t, std::vector<size_t>> childrenOfId; // indices into the object list
};

Family family(const std::vector<ObjectView>& all) {
    Family f;
    for (size_t i = 0; i < all.size(); ++i) {
        f.ids.insert(all[i].id);
        if (all[i].header) f.childrenOfId[all[i].header->parentId].push_back(i);
    }
    return f;
}

void writeObject(Json& j, const ObjectView& o, const std::vector<ObjectView>& all, const Family& fam,
                 int32_t frameCount, int32_t frame) {
    j.raw("{");
    field(j, "kind", true), j.str(o.kind);
    field(j, "name"), j.str(*o.name);
    field(j, "id"), j.num(o.id);
    int32_t parent = o.header ? o.header->parentId : -1;
    field(j, "parent"), j.num(parent);
    if (parent != -1) field(j, "parentFound"), j.boolean(fam.ids.count(parent) != 0);
    field(j, "children"), j.raw("[");
    bool first = true;
    auto children = fam.childrenOfId.find(o.id);
    if (children != fam.childrenOfId.end())
        for (size_t index : children->second) {
            if (&all[index] == &o) continue;
            if (!first) j.raw(",");
            first = false;
            j.str(*all[index].name);
        }
    j.raw("]");
    if (const ObjectHeader* h = o.header) {
        field(j, "position"), floats(j, h->position);
        field(j, "rotation"), floats(j, h->rotation);
        field(j, "scale"), floats(j, h->scale);
        field(j, "secondaryScale"), floats(j, h->secondaryScale);
        field(j, "keys"), j.raw("{");
        field(j, "position", true), j.num(static_cast<int>(h->positionKeys.size()));
        field(j, "rotation"), j.num(static_cast<int>(h->rotationKeys.size()));
        field(j, "scale"), j.num(static_cast<int>(h->scaleKeys.size()));
        field(j, "matchesFrames"), j.boolean(h->keyCount() == 0 || h->keyCount() == frameCount);
        j.raw("}");
        if (frame >= 0 && h->keyCount() > 0) writeFrame(j, *h, frame);
    }
    if (auto* mesh = std::get_if<Mesh>(o.chunk)) {
        field(j, "material"), j.num(mesh->header.materialId);
        field(j, "vertices"), j.num(static_cast<int>(mesh->vertices.size()));
        field(j, "faces"), j.num(static_cast<int>(mesh->faces.size()));
        field(j, "colours"), j.num(static_cast<int>(mesh->colours.size()));
        field(j, "coordinateSets"), j.raw("[");
        for (size_t i = 0; i < mesh->coordinateSets.size(); ++i) {
            if (i) j.raw(",");
            j.num(static_cast<int>(mesh->coordinateSets[i].size()));
        }
        j.raw("]");
    } else if (auto* light = std::get_if<Light>(o.chunk)) {
        field(j, "lightKind"), j.num(light->kind);
        field(j, "colour"), floats(j, light->colour);
        field(j, "multiplier"), j.num(light->multiplier);
        field(j, "range"), j.num(light->range);
        field(j, "coneAngle"), j.num(light->coneAngle);
        field(j, "coneExponent"), j.num(light->coneExponent);
        field(j, "target"), j.num(light->targetId);
        field(j, "texture");
        if (light->hasTexture)
            j.str(light->texture);
        else
            j.raw("null");
    } else if (auto* camera = std::get_if<Camera>(o.chunk)) {
        field(j, "fieldOfView"), j.num(camera->fieldOfView);
        field(j, "verticalFieldOfViewDegrees"), j.num(verticalFieldOfViewDegrees(camera->fieldOfView));
        field(j, "near"), j.num(camera->nearClip);
        field(j, "far"), j.num(camera->farClip);
        field(j, "target"), j.num(camera->targetId);
    }
    j.raw("}");
}
} // namespace

std::string sceneJson(const std::string& name, const SceneFile& s, int32_t frame) {
    std::vector<ObjectView> objects;
    std::vector<const Material*> materials;
    for (const Chunk& chunk : s.chunks) {
        if (auto* list = std::get_if<MaterialList>(&chunk))
            for (const Material& m : list->materials)
                materials.push_back(&m);
        else if (auto* l = std::get_if<Light>(&chunk))
            objects.push_back({"light", &l->header, l->header.id, &l->header.name, &chunk});
        else if (auto* c = std::get_if<Camera>(&chunk))
            objects.push_back({"camera", &c->header, c->header.id, &c->header.name, &chunk});
        else if (auto* m = std::get_if<Mesh>(&chunk))
            objects.push_back({"mesh", &m->header, m->header.id, &m->header.name, &chunk});
        else if (auto* b = std::get_if<BareObject>(&chunk))
            objects.push_back({"bare", nullptr, b->id, &b->name, &chunk});
        else if (auto* d = std::get_if<Dummy>(&chunk))
            objects.push_back({"dummy", &d->header, d->header.id, &d->header.name, &chunk});
    }

    Json j;
    j.raw("{");
    field(j, "file", true), j.str(name);
    field(j, "version"), j.num(s.version);
    field(j, "firstFrame"), j.num(s.firstFrame);
    field(j, "lastFrame"), j.num(s.lastFrame);
    field(j, "frameStep"), j.num(s.frameStep);
    field(j, "frameCount"), j.num(s.frameCount());
    j.raw(",\n\"materials\":[");
    for (size_t i = 0; i < materials.size(); ++i) {
        j.raw(i ? ",\n" : "\n");
        writeMaterial(j, *materials[i]);
    }
    j.raw("],\n\"objects\":[");
    const Family fam = family(objects);
    for (size_t i = 0; i < objects.size(); ++i) {
        j.raw(i ? ",\n" : "\n");
        writeObject(j, objects[i], objects, fam, s.frameCount(), frame);
    }
    // Meshes whose material id is not in the file would stop the player when it loads the scene.
    j.raw("],\n\"missingMaterials\":[");
    bool first = true;
    std::unordered_set<int32_t> materialIds;
    for (const Material* m : materials)
        materialIds.insert(m->id);
    for (const ObjectView& o : objects) {
        auto* mesh = std::get_if<Mesh>(o.chunk);
        if (!mesh) continue;
        if (materialIds.count(mesh->header.materialId)) continue;
        if (!first) j.raw(",");
        first = false;
        j.str(mesh->header.name);
    }
    j.raw("]}\n");
    return j.out;
}
