#include "engine/Scene.h"

#include "base/Report.h"
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/MeshObject.h"
#include "engine/SceneObject.h"
#include "platform/GL.h"
#include "platform/Platform.h"
#include "resources/PBuffer.h"
#include "resources/Texture.h"

#include <cmath>
#include <cstddef>
#include <vector>

namespace {
const char* const shadowTextureName = "ShadowMapTexture";

// The one depth render target all scenes share (made on first use, lives until exit).
PBuffer*& shadowTarget() {
    static PBuffer* target = nullptr;
    return target;
}

// Per frame the registered texture is only looked up, so its use count stays that of the scenes
// that asked for it.
Texture* shadowTexture(int size) {
    if (const auto* entry = TextureManager::instance().find(shadowTextureName))
        if (entry->object) return entry->object;
    return TextureManager::instance().createTexture(shadowTextureName, size, size, GL_DEPTH_COMPONENT,
                                                    GL_DEPTH_COMPONENT);
}

void setShadowParameters() {
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE_ARB, GL_COMPARE_R_TO_TEXTURE_ARB);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC_ARB, GL_LEQUAL);
}
} // namespace

Scene::Scene() {
    const platform::GLCaps& caps = platform::glCaps();
    depthTargetAvailable_ = caps.framebufferObject && caps.depthTextureTarget;
}

Scene::~Scene() {
    // Every object is in the objects list, whether or not some chain reaches it: unlink all
    // and delete each once.
    for (SceneObject* object : objects_) {
        object->next_ = nullptr;
        object->previous_ = nullptr;
        object->firstChild_ = nullptr;
    }
    for (SceneObject* object : objects_)
        delete object;
    for (auto& entry : materials_)
        delete entry.second;
}

void Scene::setFrames(int frameCount, int unitsPerFrame) {
    frameCount_ = frameCount;
    unitsPerFrame_ = unitsPerFrame;
}

void Scene::addMaterial(Material* material) {
    if (!material) return;
    if (!materials_.emplace(material->id(), material).second) delete material;
}

void Scene::attachParent(SceneObject* object, int32_t parentId) {
    SceneObject* parent = findObjectById(parentId);
    if (parent == object) {
        // Its own child, it would be drawn inside itself without end.
        reportError(
            __FILE__, __LINE__,
            report::format("object %s is its own parent (obj %d)", object->name().c_str(), parentId).c_str(),
            false);
        return;
    }
    if (!parent) {
        reportError(__FILE__, __LINE__,
                    report::format("object %s could not find parent obj %d", object->name().c_str(), parentId)
                        .c_str(),
                    false);
        return;
    }
    appendChildOf(parent, object);
}

void Scene::appendTopLevel(SceneObject* object) {
    if (!root_) {
        root_ = object;
        object->previous_ = nullptr;
    } else {
        rootTail_->next_ = object;
        object->previous_ = rootTail_;
    }
    rootTail_ = object;
}

void Scene::appendChildOf(SceneObject* parent, SceneObject* object) {
    SceneObject*& last = lastChild_[parent];
    if (!parent->firstChild_) {
        parent->firstChild_ = object;
        object->previous_ = nullptr;
    } else {
        last->next_ = object;
        object->previous_ = last;
    }
    last = object;
}

void Scene::addObject(SceneObject* object, int32_t parentId) {
    if (!object) return;
    objects_.push_back(object);
    byId_.emplace(object->id(), object);
    byName_.emplace(object->name(), object);
    if (parentId == -1)
        appendTopLevel(object);
    else
        attachParent(object, parentId);
}

void Scene::addCamera(Camera* camera, int32_t parentId) {
    if (!camera) return;
    objects_.push_back(camera);
    byId_.emplace(camera->id(), camera);
    byName_.emplace(camera->name(), camera);
    cameras_.push_back(camera);
    if (parentId != -1) attachParent(camera, parentId);
}

void Scene::addLight(Light* light, int32_t parentId) {
    if (!light) return;
    light->setLightNumber(static_cast<int>(lights_.size()));
    objects_.push_back(light);
    byId_.emplace(light->id(), light);
    byName_.emplace(light->name(), light);
    lights_.push_back(light);
    if (parentId != -1)
        attachParent(light, parentId);
    else
        freeLights_.push_back(light);
}

void Scene::reorderTransparent() {
    std::vector<SceneObject*> moved;
    SceneObject* object = root_;
    SceneObject* last = nullptr;
    while (object) {
        SceneObject* following = object->nextSibling();
        Material* material = object->material();
        if (material && material->transparent()) {
            object->unlink(root_);
            moved.push_back(object);
        } else {
            last = object;
        }
        object = following;
    }
    rootTail_ = last;
    for (SceneObject* m : moved)
        appendTopLevel(m);
}

void Scene::finishLoading() {
    if (root_) root_->bindScene(this);
    reorderTransparent();
    for (Camera* camera : cameras_)
        camera->setTarget(findObjectById(camera->targetId()));
    for (Light* light : lights_)
        if (light->targetId() != 0) light->setTarget(findObjectById(light->targetId()));
}

SceneObject* Scene::findObjectByName(const std::string& name) const {
    auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : found->second;
}

SceneObject* Scene::findObjectById(int32_t id) const {
    auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : found->second;
}

Light* Scene::findLightByName(const std::string& name) const {
    for (Light* light : lights_)
        if (light->name() == name) return light;
    return nullptr;
}

int Scene::findCameraIndexByName(const std::string& name) {
    for (size_t i = 0; i < cameras_.size(); ++i)
        if (cameras_[i]->name() == name) {
            currentCamera_ = static_cast<int>(i);
            return currentCamera_;
        }
    return -1;
}

Material* Scene::findMaterial(int32_t id) const {
    auto found = materials_.find(id);
    return found == materials_.end() ? nullptr : found->second;
}

void Scene::setCamera(int index) {
    if (index >= 0 && index < cameraCount()) currentCamera_ = index;
}

Camera* Scene::currentCamera() const {
    if (currentCamera_ < 0 || currentCamera_ >= cameraCount()) return nullptr;
    return cameras_[static_cast<size_t>(currentCamera_)];
}

Light* Scene::currentLight() const {
    if (currentLight_ < 0 || currentLight_ >= lightCount()) return nullptr;
    return lights_[static_cast<size_t>(currentLight_)];
}

void Scene::setMorph(float startFrame, float rate, bool loop) {
    morphStart_ = static_cast<int>(startFrame);
    morphRate_ = rate;
    morphLoop_ = loop;
}

void Scene::setTime(float t) {
    const float units = static_cast<float>(unitsPerFrame_ > 0 ? unitsPerFrame_ : 1);
    // Times beyond the int range (or not numbers) would make the frame number undefined.
    if (!std::isfinite(t)) t = 0.0f;
    const float limit = 2.0e9f * units;
    t = t < -limit ? -limit : (t > limit ? limit : t);
    int f = static_cast<int>(t / units);
    frameIndex_ = f;
    if (loop_ && frameCount_ > 0) {
        // Before time zero a looping scene runs back through its frames (a negative speed plays it
        // backwards) rather than stopping at frame 0: whole frames are counted down, so the
        // fraction stays between 0 and 1.
        const int whole = static_cast<int>(std::floor(t / units));
        int wraps = whole / frameCount_;
        int index = whole % frameCount_;
        if (index < 0) {
            index += frameCount_;
            --wraps;
        }
        frameIndex_ = index;
        t -= static_cast<float>(wraps) * static_cast<float>(frameCount_) * units;
    }
    fraction_ = (t - static_cast<float>(frameIndex_) * units) / units;
    if (frameIndex_ < 0) frameIndex_ = 0;
    if (frameIndex_ > frameCount_) frameIndex_ = frameCount_ - 1;
}

void Scene::animate() {
    for (SceneObject* object : objects_)
        object->animate(frameIndex_, fraction_);
}

void Scene::applyLightColours() {
    for (Light* light : lights_)
        light->applyColours();
    glEnable(GL_LIGHTING);
}

Light* Scene::shadowCaster() const {
    for (Light* light : lights_)
        if (light->shadowCaster()) return light;
    return nullptr;
}

void Scene::setShadows(bool on) {
    GLint units = 0;
    glGetIntegerv(GL_MAX_TEXTURE_UNITS_ARB, &units);
    if (units < 3) return;
    shadows_ = on;
    if (on) {
        if (depthTargetAvailable_) {
            PBuffer*& target = shadowTarget();
            if (!target) target = new PBuffer;
            if (!target->isInitialized()) {
                // Only its depth is ever read: the pass draws with colour writes off.
                target->initialize(shadowTargetSize, shadowTargetSize, true, TargetBuffers::DepthOnly);
                target->enable();
                glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
                target->disable();
            }
            target->bind(WGL_DEPTH_COMPONENT_NV);
            setShadowParameters();
            target->release(WGL_DEPTH_COMPONENT_NV);
        } else {
            Texture* texture = TextureManager::instance().createTexture(
                shadowTextureName, shadowMapSize_, shadowMapSize_, GL_DEPTH_COMPONENT, GL_DEPTH_COMPONENT);
            if (texture) {
                texture->bind();
                setShadowParameters();
            }
        }
    }
    if (root_) root_->setShadowReceiver(on);
}

void Scene::warmUp(Light* caster, int setting) {
    if (setting < 0 || setting > 15) return;
    const unsigned plainBit = 1u << (2 * setting), shadowedBit = plainBit << 1;
    const bool plain = !(warmed_ & plainBit);
    const bool shadowed = caster && caster->target() && !(warmed_ & shadowedBit);
    if (!root_ || (!plain && !shadowed)) return;
    // A target of its own keeps the drawing off the screen; one that would not fit under the
    // render targets' storage limit is not worth a fatal report.
    constexpr int size = 16;
    const std::size_t bytes = static_cast<std::size_t>(size) * size * 8;
    if (!platform::hasCurrentGLContext() || !platform::glCaps().framebufferObject ||
        PBuffer::storageInUse() > PBuffer::storageLimit() ||
        PBuffer::storageLimit() - PBuffer::storageInUse() < bytes)
        return;
    warmed_ |= plainBit | (shadowed ? shadowedBit : 0u);

    const bool wasShadows = shadows_;
    const bool wasCaster = caster && caster->shadowCaster();
    std::vector<ColorRGBA> diffuse; // a flickering light draws its colour at random
    for (Light* light : lights_)
        diffuse.push_back(light->diffuse());
    std::vector<bool> receivers;
    std::vector<MeshObject::DrawCache> caches;
    for (SceneObject* object : objects_) {
        auto* mesh = dynamic_cast<MeshObject*>(object);
        receivers.push_back(mesh && mesh->shadowReceiver());
        caches.push_back(mesh ? mesh->drawCache() : MeshObject::DrawCache{});
    }

    PBuffer target;
    target.initialize(size, size, false);
    target.enable();
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    if (plain) {
        shadows_ = false;
        root_->setShadowReceiver(false);
        render();
    }
    if (shadowed) {
        // The shadow target and its texture are made here, as the first frame with shadows would.
        setShadows(true);
        if (shadows_) {
            caster->setShadowCaster(true);
            render();
        }
    }
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopClientAttrib();
    glPopAttrib();
    target.disable();
    target.destroy();

    shadows_ = wasShadows;
    if (caster) caster->setShadowCaster(wasCaster);
    for (size_t i = 0; i < lights_.size(); ++i)
        lights_[i]->setDiffuse(diffuse[i]);
    for (size_t i = 0; i < objects_.size(); ++i) {
        objects_[i]->setShadowReceiverSelf(receivers[i]);
        if (auto* mesh = dynamic_cast<MeshObject*>(objects_[i])) mesh->restoreDrawCache(std::move(caches[i]));
    }
    checkGLError(__FILE__, __LINE__);
}

void Scene::shadowMapPass(Light* caster) {
    Camera* camera = currentCamera();
    const Vector3 eye = caster->worldPosition();
    const Vector3 target = caster->target()->worldPosition();
    const bool useTarget = depthTargetAvailable_ && shadowTarget() && shadowTarget()->isInitialized();
    usedDepthTarget_ = useTarget;
    GLint viewport[4] = {0, 0, 0, 0};
    if (useTarget) {
        shadowTarget()->enable();
    } else {
        glGetIntegerv(GL_VIEWPORT, viewport);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glViewport(0, 0, shadowMapSize_, shadowMapSize_);
        glScissor(0, 0, shadowMapSize_, shadowMapSize_);
        glEnable(GL_SCISSOR_TEST);
    }

    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (camera)
        applyPerspective(*camera);
    else
        gluPerspective(45.0, 1.333, 1.0, 2000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    lookAt(eye, target);

    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glCullFace(GL_FRONT);
    glPolygonOffset(1.1f, 1.0f);
    glEnable(GL_POLYGON_OFFSET_FILL);

    root_->renderDepth();

    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDisable(GL_POLYGON_OFFSET_FILL);
    glCullFace(GL_BACK);

    if (!useTarget) {
        Texture* texture = shadowTexture(shadowMapSize_);
        if (texture) {
            texture->bind();
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE_ARB, GL_COMPARE_R_TO_TEXTURE_ARB);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC_ARB, GL_LEQUAL);
            glTexParameteri(GL_TEXTURE_2D, GL_DEPTH_TEXTURE_MODE_ARB, GL_INTENSITY);
            glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, 0, 0, shadowMapSize_, shadowMapSize_, 0);
        }
        glClear(GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
        glDisable(GL_SCISSOR_TEST);
    }

    // T = bias × light projection × light view, kept as four rows (the eye planes).
    Matrix4 projection, view, bias;
    glGetFloatv(GL_PROJECTION_MATRIX, projection.m);
    glLoadIdentity();
    lookAt(eye, target);
    glGetFloatv(GL_MODELVIEW_MATRIX, view.m);
    bias.m[0] = bias.m[5] = bias.m[10] = 0.5f;
    bias.m[12] = bias.m[13] = bias.m[14] = 0.5f;
    const Matrix4 t = bias * projection * view;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            shadowMatrix_[row * 4 + col] = t.m[col * 4 + row];

    if (useTarget) shadowTarget()->disable();
}

void Scene::bindShadowMap() {
    glActiveTextureARB(GL_TEXTURE2_ARB);
    const GLenum coords[4] = {GL_S, GL_T, GL_R, GL_Q};
    const GLenum gens[4] = {GL_TEXTURE_GEN_S, GL_TEXTURE_GEN_T, GL_TEXTURE_GEN_R, GL_TEXTURE_GEN_Q};
    for (int i = 0; i < 4; ++i) {
        glTexGeni(coords[i], GL_TEXTURE_GEN_MODE, GL_EYE_LINEAR);
        glTexGenfv(coords[i], GL_EYE_PLANE, &shadowMatrix_[i * 4]);
        glEnable(gens[i]);
    }
    glActiveTextureARB(GL_TEXTURE0_ARB);
    checkGLError(__FILE__, __LINE__);
    glActiveTextureARB(GL_TEXTURE2_ARB);
    if (usedDepthTarget_) {
        shadowTarget()->bind(WGL_DEPTH_COMPONENT_NV);
    } else if (Texture* texture = shadowTexture(shadowMapSize_)) {
        texture->bind();
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE_ARB, GL_COMPARE_R_TO_TEXTURE_ARB);
    glActiveTextureARB(GL_TEXTURE0_ARB);
}

void Scene::render() {
    if (!root_) {
        reportError(__FILE__, __LINE__, "no objects in scene", true);
        return;
    }
    checkGLError(__FILE__, __LINE__);
    const float black[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    PBuffer::lightsInUse(); // inside a render target, its own light colours
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    for (int i = 0; i < Light::maxLights(); ++i)
        glDisable(GL_LIGHT0 + i);
    glEnable(GL_DEPTH_TEST);
    glDepthMask(GL_TRUE);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glCullFace(GL_BACK);

    // A caster without a target has no direction to look in: that frame goes without shadows.
    Light* caster = shadows_ ? shadowCaster() : nullptr;
    shadowMapActive_ = caster && caster->target();
    if (shadowMapActive_) shadowMapPass(caster);

    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    if (Camera* camera = currentCamera()) camera->apply();
    for (Light* light : lights_)
        light->apply();
    if (shadowMapActive_) bindShadowMap();

    // Lights in a chain are reached (with their children) by the walk from the root; only the
    // free ones need a walk of their own, or their siblings' meshes would be drawn twice.
    for (Light* light : freeLights_)
        light->render();
    root_->render();

    if (shadowMapActive_) {
        glActiveTextureARB(GL_TEXTURE2_ARB);
        glDisable(GL_TEXTURE_GEN_S);
        glDisable(GL_TEXTURE_GEN_T);
        glDisable(GL_TEXTURE_GEN_R);
        glDisable(GL_TEXTURE_GEN_Q);
        if (usedDepthTarget_) shadowTarget()->release(WGL_DEPTH_COMPONENT_NV);
        glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    shadowMapActive_ = false;
    checkGLError(__FILE__, __LINE__);
}
