#include "sceneimport/SceneBuilder.h"

#include "sceneimport/ImportFiles.h"
#include "sceneimport/Materials.h"

#include <assimp/scene.h>

#include <algorithm>
#include <cmath>

namespace sceneimport {

using namespace scenefile;

namespace {

// ---- animation sampling ---------------------------------------------------------------------

template <typename Key> size_t keyBefore(const Key* keys, unsigned count, double t) {
    // Last key at or before t (keys are in time order).
    size_t lo = 0, hi = count;
    while (hi - lo > 1) {
        size_t mid = (lo + hi) / 2;
        if (keys[mid].mTime <= t)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

aiVector3D sampleVector(const aiVectorKey* keys, unsigned count, double t) {
    size_t i = keyBefore(keys, count, t);
    if (t <= keys[0].mTime || i + 1 >= count) return keys[t <= keys[0].mTime ? 0 : i].mValue;
    const double span = keys[i + 1].mTime - keys[i].mTime;
    const float a = span > 0 ? static_cast<float>((t - keys[i].mTime) / span) : 0.0f;
    return keys[i].mValue + (keys[i + 1].mValue - keys[i].mValue) * a;
}

aiQuaternion sampleRotation(const aiQuatKey* keys, unsigned count, double t) {
    size_t i = keyBefore(keys, count, t);
    if (t <= keys[0].mTime || i + 1 >= count) return keys[t <= keys[0].mTime ? 0 : i].mValue;
    const double span = keys[i + 1].mTime - keys[i].mTime;
    const float a = span > 0 ? static_cast<float>((t - keys[i].mTime) / span) : 0.0f;
    aiQuaternion out;
    aiQuaternion::Interpolate(out, keys[i].mValue, keys[i + 1].mValue, a);
    return out.Normalize();
}

aiMatrix4x4 localAt(const aiNode* node, const aiNodeAnim* channel, double ticks) {
    if (!channel) return node->mTransformation;
    aiVector3D scale, position;
    aiQuaternion rotation;
    node->mTransformation.Decompose(scale, rotation, position);
    if (channel->mNumPositionKeys)
        position = sampleVector(channel->mPositionKeys, channel->mNumPositionKeys, ticks);
    if (channel->mNumRotationKeys)
        rotation = sampleRotation(channel->mRotationKeys, channel->mNumRotationKeys, ticks);
    if (channel->mNumScalingKeys)
        scale = sampleVector(channel->mScalingKeys, channel->mNumScalingKeys, ticks);
    return aiMatrix4x4(scale, rotation, position);
}

// ---- objects --------------------------------------------------------------------------------
// The nodes in depth-first order, parents before children, walked without recursion. "" or the
// scene limit the model passes: checked as the nodes are counted, before anything is built.
std::string collectNodes(const aiNode* root, std::vector<NodeEntry>& out) {
    struct Pending {
        const aiNode* node;
        int parent;
        size_t depth;
    };
    // The root may be left out, and the objects below it move up a level.
    std::vector<Pending> stack{{root, -1, 0}};
    while (!stack.empty()) {
        const Pending p = stack.back();
        stack.pop_back();
        if (p.depth > MaxNestingDepth)
            return "node " + std::string(p.node->mName.C_Str()) + " is nested " + std::to_string(p.depth) +
                   " deep, more than " + std::to_string(MaxNestingDepth);
        if (out.size() > MaxObjects)
            return "more than " + std::to_string(MaxObjects) +
                   " nodes; a scene holds at most that many objects";
        out.push_back({p.node, p.parent, {}, -1});
        const int self = static_cast<int>(out.size()) - 1;
        for (unsigned i = p.node->mNumChildren; i-- > 0;)
            stack.push_back({p.node->mChildren[i], self, p.depth + 1});
    }
    return "";
}

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Rest transform and key tracks from world matrices, one per frame. Children are drawn outside
// their parent's transform, so everything is stored in world space. Tracks that never change
// are left out.
void setTransform(ObjectHeader& h, const std::vector<aiMatrix4x4>& world) {
    std::vector<Float3> positions, scales;
    std::vector<Float4> rotations;
    for (const aiMatrix4x4& m : world) {
        aiVector3D s, p;
        aiQuaternion q;
        m.Decompose(s, q, p);
        if (!finite(s) || !finite(p) || !std::isfinite(q.x + q.y + q.z + q.w)) {
            s = finite(s) ? s : aiVector3D(0, 0, 0);
            p = finite(p) ? p : aiVector3D(0, 0, 0);
            q = aiQuaternion();
        }
        // The file keeps the conjugate of the rotation drawn.
        Float4 r{0.0f - q.x, 0.0f - q.y, 0.0f - q.z, q.w};
        // Neighbouring samples on the same side of the quaternion sphere, so that blending
        // between them takes the short way.
        if (!rotations.empty()) {
            const Float4& prev = rotations.back();
            if (prev[0] * r[0] + prev[1] * r[1] + prev[2] * r[2] + prev[3] * r[3] < 0)
                for (float& v : r)
                    v = -v;
        }
        positions.push_back({p.x, p.y, p.z});
        rotations.push_back(r);
        scales.push_back({s.x, s.y, s.z});
    }
    h.position = positions[0];
    h.rotation = rotations[0];
    h.scale = scales[0];
    auto varies = [](const auto& track) {
        for (const auto& v : track)
            for (size_t i = 0; i < v.size(); ++i)
                if (std::fabs(v[i] - track[0][i]) > 1e-6f * std::max(1.0f, std::fabs(track[0][i])))
                    return true;
        return false;
    };
    if (varies(positions)) h.positionKeys = positions;
    if (varies(rotations)) h.rotationKeys = rotations;
    if (varies(scales)) h.scaleKeys = scales;
}

aiMatrix4x4 translation(const aiVector3D& v) {
    aiMatrix4x4 m;
    aiMatrix4x4::Translation(v, m);
    return m;
}

// The world matrix's rotation alone, placed at `at`.
aiMatrix4x4 placedRotation(const aiMatrix4x4& world, const aiVector3D& at) {
    aiVector3D s, p;
    aiQuaternion q;
    world.Decompose(s, q, p);
    return translation(at) * aiMatrix4x4(q.GetMatrix());
}

aiVector3D direction(const aiMatrix4x4& world, const aiVector3D& local) {
    aiVector3D d = aiMatrix3x3(world) * local;
    const float length = d.Length();
    return length > 0 && std::isfinite(length) ? d / length : aiVector3D(0, 0, -1);
}

Float3 float3(const aiVector3D& v) {
    return {v.x, v.y, v.z};
}

Mesh convertMesh(const aiMesh* from, const std::string& name) {
    Mesh m;
    m.header.name = name;
    const unsigned n = from->mNumVertices;
    for (unsigned i = 0; i < n; ++i) {
        m.vertices.push_back(float3(from->mVertices[i]));
        aiVector3D normal = from->mNormals ? from->mNormals[i] : aiVector3D(0, 0, 1);
        m.normals.push_back(finite(normal) ? float3(normal) : Float3{0, 0, 1});
    }
    for (unsigned set = 0; set < 2; ++set) {
        if (!from->mTextureCoords[set]) continue;
        for (unsigned i = 0; i < n; ++i)
            m.coordinateSets[set].push_back({from->mTextureCoords[set][i].x, from->mTextureCoords[set][i].y});
    }
    if (from->mColors[0])
        for (unsigned i = 0; i < n; ++i)
            m.colours.push_back({from->mColors[0][i].r, from->mColors[0][i].g, from->mColors[0][i].b});
    for (unsigned i = 0; i < from->mNumFaces; ++i) {
        const aiFace& f = from->mFaces[i];
        if (f.mNumIndices != 3) continue;
        m.faces.push_back({static_cast<int32_t>(f.mIndices[0]), static_cast<int32_t>(f.mIndices[1]),
                           static_cast<int32_t>(f.mIndices[2])});
    }

    unsigned sets = 0;
    for (unsigned set = 0; set < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++set)
        sets += from->mTextureCoords[set] != nullptr;
    if (sets > 2)
        warn("mesh %s: %u texture coordinate sets; only the first two are kept", name.c_str(), sets);
    if (from->mNumBones)
        warn("mesh %s: skinning (%u bones) not carried over; drawn in its rest pose", name.c_str(),
             from->mNumBones);
    if (from->mNumAnimMeshes)
        warn("mesh %s: %u morph targets not carried over", name.c_str(), from->mNumAnimMeshes);
    return m;
}

} // namespace

std::string SceneBuilder::build(const ImportOptions& options, SceneFile& out) {
    std::string error = collectNodes(scene_->mRootNode, nodes_);
    if (!error.empty()) return error;
    // A node with several meshes becomes a dummy with one child per mesh.
    size_t objects = nodes_.size() - 1;
    for (const NodeEntry& entry : nodes_)
        objects += entry.node->mNumMeshes > 1 ? entry.node->mNumMeshes : 0;
    if (objects > MaxObjects)
        return "the model makes " + std::to_string(objects) + " objects, more than a scene's " +
               std::to_string(MaxObjects);
    objects_.reserve(objects);
    error = sample(options.frameStep, out);
    if (!error.empty()) return error;

    for (unsigned i = 0; i < scene_->mNumCameras; ++i)
        cameras_[scene_->mCameras[i]->mName.C_Str()] = scene_->mCameras[i];
    for (unsigned i = 0; i < scene_->mNumLights; ++i)
        lights_[scene_->mLights[i]->mName.C_Str()] = scene_->mLights[i];

    // The root node that only holds the model together (no transform, nothing of its own)
    // is left out: its children become top-level objects.
    const aiNode* root = scene_->mRootNode;
    dropRoot_ = root->mNumMeshes == 0 && root->mTransformation.IsIdentity() && isStatic(0) &&
                !cameras_.count(root->mName.C_Str()) && !lights_.count(root->mName.C_Str());

    for (size_t i = 0; i < nodes_.size(); ++i)
        addNode(i);
    if (renamed_ > kRenameWarnings)
        warn("%zu more objects had a name that was taken and were given a number after it",
             renamed_ - kRenameWarnings);

    if (lightCount_ > MaxLights)
        return std::to_string(lightCount_) + " lights; a scene holds at most " + std::to_string(MaxLights);
    if (meshCount_ == 0 && cameraCount_ == 0 && lightCount_ == 0)
        return "no meshes, cameras or lights in the model";

    std::vector<Material> materials(materialIds_.size());
    for (const auto& [index, id] : materialIds_)
        materials[static_cast<size_t>(id - 1)] = convertMaterial(scene_->mMaterials[index], id, textures_);
    out.chunks.insert(out.chunks.begin(), MaterialList{materials});
    for (Chunk& chunk : objects_)
        out.chunks.push_back(std::move(chunk));
    return "";
}

bool SceneBuilder::isStatic(size_t node) const {
    const auto& w = nodes_[node].world;
    for (const aiMatrix4x4& m : w)
        if (!(m == w[0])) return false;
    return true;
}

std::string SceneBuilder::sample(int step, SceneFile& out) {
    const aiAnimation* animation = scene_->mNumAnimations ? scene_->mAnimations[0] : nullptr;
    double ticksPerSecond = 25;
    double endTicks = 0;
    std::map<std::string, const aiNodeAnim*> channels;
    if (animation) {
        if (scene_->mNumAnimations > 1)
            warn("%u animations; only the first (%s) is sampled", scene_->mNumAnimations,
                 animation->mName.length ? animation->mName.C_Str() : "unnamed");
        if (animation->mTicksPerSecond > 0) ticksPerSecond = animation->mTicksPerSecond;
        endTicks = std::max(0.0, animation->mDuration);
        for (unsigned i = 0; i < animation->mNumChannels; ++i) {
            const aiNodeAnim* c = animation->mChannels[i];
            channels[c->mNodeName.C_Str()] = c;
            if (c->mNumPositionKeys)
                endTicks = std::max(endTicks, c->mPositionKeys[c->mNumPositionKeys - 1].mTime);
            if (c->mNumRotationKeys)
                endTicks = std::max(endTicks, c->mRotationKeys[c->mNumRotationKeys - 1].mTime);
            if (c->mNumScalingKeys)
                endTicks = std::max(endTicks, c->mScalingKeys[c->mNumScalingKeys - 1].mTime);
        }
        if (animation->mNumMeshChannels || animation->mNumMorphMeshChannels)
            warn("mesh animation (vertex or morph channels) not carried over");
    }
    // Frame k is scene time k * step, and scene time runs at 100 units a second.
    const double units = endTicks / ticksPerSecond * 100.0;
    if (!std::isfinite(units) || units / step > 100000)
        return "the animation is too long to sample (more than 100000 frames)";
    const int frames = static_cast<int>(std::ceil(units / step - 1e-6)) + 1;
    // Every node keeps a world matrix per frame while the objects are made.
    if (static_cast<uint64_t>(frames) * nodes_.size() > kMaxNodeFrames)
        return std::to_string(nodes_.size()) + " nodes over " + std::to_string(frames) +
               " frames are more than " + std::to_string(kMaxNodeFrames) +
               " node-frames to sample; give a larger --step or a shorter animation";
    out.firstFrame = 0;
    out.frameStep = step;
    out.lastFrame = (frames - 1) * step;

    for (NodeEntry& entry : nodes_) {
        auto c = channels.find(entry.node->mName.C_Str());
        const aiNodeAnim* channel = c == channels.end() ? nullptr : c->second;
        entry.world.resize(static_cast<size_t>(frames));
        for (int k = 0; k < frames; ++k) {
            const double ticks = k * step / 100.0 * ticksPerSecond;
            aiMatrix4x4 local = localAt(entry.node, channel, ticks);
            entry.world[static_cast<size_t>(k)] =
                entry.parent < 0
                    ? local
                    : nodes_[static_cast<size_t>(entry.parent)].world[static_cast<size_t>(k)] * local;
        }
    }
    return "";
}

std::string SceneBuilder::uniqueName(std::string name) {
    name = name.substr(0, std::min(name.find('\0'), MaxNameLength - 8));
    if (name.empty()) name = "Object" + std::to_string(nextId_);
    std::string unique = name;
    if (names_.count(unique)) {
        // Each name counts on from the number it gave last, so that many objects of one name
        // cost no more than as many of different names.
        size_t& n = nextNumber_[name];
        do
            unique = name + "." + std::to_string(n++ + 2);
        while (names_.count(unique));
        if (++renamed_ <= kRenameWarnings)
            warn("object name %s is taken; this one is called %s", name.c_str(), unique.c_str());
    }
    names_.insert(unique);
    return unique;
}

void SceneBuilder::header(ObjectHeader& h, const std::string& name, int32_t parent) {
    h.name = uniqueName(name);
    h.id = nextId_++;
    h.parentId = parent;
}

int32_t SceneBuilder::addMesh(const aiMesh* mesh, const std::string& name, int32_t parent,
                              const std::vector<aiMatrix4x4>& world) {
    Mesh m = convertMesh(mesh, name);
    triangleCount_ += m.faces.size();
    header(m.header, name, parent);
    setTransform(m.header, world);
    // Materials are numbered 1, 2, ... in the order the meshes use them; unused ones are left out.
    auto material = materialIds_.emplace(mesh->mMaterialIndex, static_cast<int32_t>(materialIds_.size()) + 1);
    m.header.materialId = material.first->second;
    ++meshCount_;
    objects_.push_back(std::move(m));
    return std::get<Mesh>(objects_.back()).header.id;
}

// A dummy that follows `points`, for cameras and lights that aim at it.
int32_t SceneBuilder::addTarget(const std::string& name, int32_t parent,
                                const std::vector<aiVector3D>& points) {
    Dummy d;
    header(d.header, name, parent);
    std::vector<aiMatrix4x4> world;
    for (const aiVector3D& p : points)
        world.push_back(translation(p));
    setTransform(d.header, world);
    objects_.push_back(d);
    return d.header.id;
}

bool SceneBuilder::addCamera(const aiCamera* from, const std::string& name, int32_t parent,
                             const std::vector<aiMatrix4x4>& world, int32_t& id) {
    if (from->mOrthographicWidth > 0) warn("camera %s is orthographic; drawn in perspective", name.c_str());
    Camera c;
    header(c.header, name, parent);
    id = c.header.id;
    std::vector<aiMatrix4x4> placed;
    std::vector<aiVector3D> targets;
    const aiVector3D local = cameraOrigin(format_, *from);
    for (const aiMatrix4x4& w : world) {
        aiVector3D eye = w * local;
        placed.push_back(placedRotation(w, eye));
        targets.push_back(eye + direction(w, from->mLookAt) * 10.0f);
    }
    setTransform(c.header, placed);
    c.fieldOfView = playerFieldOfView(format_, *from);
    c.nearClip = from->mClipPlaneNear > 0 ? from->mClipPlaneNear : 1;
    c.farClip = from->mClipPlaneFar > c.nearClip ? from->mClipPlaneFar : c.nearClip * 2000;
    objects_.push_back(c);
    const size_t at = objects_.size() - 1;
    // The player aims a camera only at a target; without one it looks down -z from the origin.
    const int32_t target = addTarget(name + ".Target", id, targets);
    std::get<Camera>(objects_[at]).targetId = target;
    ++cameraCount_;
    return true;
}

bool SceneBuilder::addLight(const aiLight* from, const std::string& name, int32_t parent,
                            const std::vector<aiMatrix4x4>& world, int32_t& id) {
    Light l;
    switch (from->mType) {
    case aiLightSource_POINT:
        l.kind = OmniLight;
        break;
    case aiLightSource_SPOT:
        l.kind = TargetSpotLight;
        break;
    case aiLightSource_DIRECTIONAL:
        l.kind = TargetDirectLight;
        break;
    default:
        warn("light %s: ambient, area and unknown lights are not carried over (kept as a dummy)",
             name.c_str());
        return false;
    }
    header(l.header, name, parent);
    id = l.header.id;
    std::vector<aiMatrix4x4> placed;
    std::vector<aiVector3D> targets;
    for (const aiMatrix4x4& w : world) {
        aiVector3D at = w * from->mPosition;
        const aiVector3D d = direction(w, from->mDirection);
        // A directional light has no place of its own: it shines from far back along its
        // direction onto the node's position.
        if (from->mType == aiLightSource_DIRECTIONAL) {
            targets.push_back(at);
            at -= d * 1000.0f;
        } else {
            targets.push_back(at + d * 10.0f);
        }
        placed.push_back(placedRotation(w, at));
    }
    setTransform(l.header, placed);
    const aiColor3D& c = from->mColorDiffuse;
    const float brightest = std::max({c.r, c.g, c.b});
    if (brightest > 0 && std::isfinite(brightest)) {
        l.multiplier = lightMultiplier(format_, brightest);
        l.colour = {c.r / brightest, c.g / brightest, c.b / brightest};
        // Other formats' values are taken as they are; the fixed-function light saturates at
        // a few.
        if (format_ != ModelFormat::Gltf && brightest > 10)
            warn("light %s: intensity %g is taken as a plain colour multiplier; lower it in the model",
                 name.c_str(), brightest);
    } else {
        l.multiplier = 0;
    }
    if (from->mAttenuationLinear > 0 && std::isfinite(from->mAttenuationLinear))
        l.range = 2.0f / from->mAttenuationLinear;
    if (from->mType == aiLightSource_SPOT) {
        float inner = 0, outer = 0;
        spotCone(format_, *from, inner, outer);
        l.coneAngle = outer * 180.0f / static_cast<float>(M_PI);
        // The fixed-function fall-off is cos^e of the angle: half strength midway between the
        // inner and the outer cone.
        const float mid = (inner + outer) / 2;
        l.coneExponent = inner < outer && mid > 0 && std::cos(mid) > 0
                             ? std::min(128.0f, std::log(0.5f) / std::log(std::cos(mid)))
                             : 0;
    }
    objects_.push_back(l);
    const size_t at = objects_.size() - 1;
    if (l.kind != OmniLight)
        std::get<Light>(objects_[at]).targetId = addTarget(name + ".Target", id, targets);
    ++lightCount_;
    return true;
}

void SceneBuilder::addNode(size_t index) {
    NodeEntry& entry = nodes_[index];
    const aiNode* node = entry.node;
    const int32_t parent = entry.parent < 0 ? -1 : nodes_[static_cast<size_t>(entry.parent)].objectId;
    if (index == 0 && dropRoot_) return;
    const std::string name = node->mName.C_Str();

    std::vector<const aiMesh*> meshes;
    for (unsigned i = 0; i < node->mNumMeshes; ++i) {
        const aiMesh* mesh = scene_->mMeshes[node->mMeshes[i]];
        if (mesh->mPrimitiveTypes & (aiPrimitiveType_TRIANGLE | aiPrimitiveType_POLYGON))
            meshes.push_back(mesh);
        else
            warn("%s: points and lines are not carried over", name.c_str());
    }

    int32_t id = -1;
    auto camera = cameras_.find(name);
    auto light = lights_.find(name);
    if (camera != cameras_.end())
        addCamera(camera->second, name, parent, entry.world, id);
    else if (light != lights_.end())
        addLight(light->second, name, parent, entry.world, id);
    if (id < 0 && meshes.size() == 1) {
        entry.objectId = addMesh(meshes[0], name, parent, entry.world);
        return;
    }
    if (id < 0) {
        Dummy d;
        header(d.header, name, parent);
        setTransform(d.header, entry.world);
        id = d.header.id;
        objects_.push_back(d);
    }
    entry.objectId = id;
    // Several meshes on one node (one per material): children that move with it.
    for (size_t i = 0; i < meshes.size(); ++i) {
        std::string part = meshes[i]->mName.length ? meshes[i]->mName.C_Str() : std::to_string(i + 1);
        addMesh(meshes[i], name + "." + part, id, entry.world);
    }
}

} // namespace sceneimport
