#include "engine/MeshObject.h"

#include "base/Report.h"
#include "engine/Light.h"
#include "engine/Material.h"
#include "engine/Scene.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cmath>
#include <cstring>

MeshObject::MeshObject(int32_t id, const std::string& name) : SceneObject(id, name) {
    useBufferObjects_ = platform::glCaps().vertexBufferObject;
}

MeshObject::~MeshObject() {
    releaseBuffers();
}

void MeshObject::releaseBuffers() {
    bool any = false;
    for (GLuint b : buffers_)
        any = any || b != 0;
    any = any || indexBuffer_ != 0;
    // Buffers belong to a context; without one current (process teardown) they go with it.
    if (any && platform::hasCurrentGLContext() && glDeleteBuffersARB) {
        glDeleteBuffersARB(4, buffers_);
        glDeleteBuffersARB(1, &indexBuffer_);
    }
    for (GLuint& b : buffers_)
        b = 0;
    indexBuffer_ = 0;
}

SceneObject* MeshObject::clone() const {
    MeshObject* copy = new MeshObject(id_, name_);
    copyInto(*copy);
    copy->vertices_ = vertices_;
    copy->normals_ = normals_;
    copy->faces_ = faces_;
    copy->set0_ = set0_;
    copy->set1_ = set1_;
    copy->materialId_ = materialId_;
    copy->material_ = material_;
    copy->scene_ = scene_;
    copy->shadowReceiver_ = shadowReceiver_;
    copy->built_ = built_;
    copy->indexArray_ = indexArray_;
    copy->positionArray_ = positionArray_;
    copy->normalArray_ = normalArray_;
    copy->set0Array_ = set0Array_;
    copy->set1Array_ = set1Array_;
    copy->environmentArray_ = environmentArray_;
    copy->bumpArray_ = bumpArray_;
    copy->tangents_ = tangents_;
    copy->bitangents_ = bitangents_;
    // The copy draws its own arrays: the buffer objects stay with the original.
    copy->useBufferObjects_ = false;
    copy->morphFrames_ = morphFrames_;
    copy->morphPositions_ = morphPositions_;
    copy->morphNormals_ = morphNormals_;
    return copy;
}

void MeshObject::animate(int frame, float fraction) {
    SceneObject::animate(frame, fraction);
    if (morphFrames_ > 0) morph(static_cast<float>(frame) + fraction);
}

void MeshObject::bindSelf(Scene* scene) {
    scene_ = scene;
    material_ = scene ? scene->findMaterial(materialId_) : nullptr;
    if (!material_) {
        reportErrorText(__FILE__, __LINE__, "No Material for mesh", name_.c_str(), true);
        return;
    }
    build();
}

void MeshObject::setShadeModelSelf(int model) {
    if (material_) material_->setShadeModel(model);
}

void MeshObject::build() {
    if (built_ || !material_) return;
    const size_t count = vertices_.size();
    if ((!normals_.empty() && normals_.size() != count) || (!set0_.empty() && set0_.size() != count) ||
        (!set1_.empty() && set1_.size() != count)) {
        reportError(__FILE__, __LINE__, "Geometry input is broken", true);
        return;
    }
    // Indices outside the vertices would make GL read past the arrays.
    for (const MeshFace& face : faces_)
        for (int32_t index : face.vertex)
            if (index < 0 || static_cast<size_t>(index) >= count) {
                reportError(__FILE__, __LINE__, "Geometry input is broken", true);
                return;
            }
    built_ = true;
    const bool bump = material_->hasBumpTexture();

    indexArray_.resize(faces_.size() * 3);
    for (size_t f = 0; f < faces_.size(); ++f)
        for (int k = 0; k < 3; ++k)
            indexArray_[f * 3 + k] = static_cast<GLuint>(faces_[f].vertex[k]);
    positionArray_.resize(count * 3);
    normalArray_.assign(count * 3, 0.0f);
    for (size_t i = 0; i < count; ++i) {
        const MeshVertex& v = vertices_[i];
        positionArray_[i * 3] = v.position.x;
        positionArray_[i * 3 + 1] = v.position.y;
        positionArray_[i * 3 + 2] = v.position.z;
        const Vector3 n = normals_.empty() ? Vector3() : normals_[i];
        normalArray_[i * 3] = n.x;
        normalArray_[i * 3 + 1] = n.y;
        normalArray_[i * 3 + 2] = n.z;
    }
    // Set 0 is kept even when the material does not read it yet: a render target put on the
    // material later (shade model 13) and the bump texture are drawn with it.
    if (!set0_.empty()) {
        set0Array_.resize(count * 2);
        for (size_t i = 0; i < count; ++i) {
            set0Array_[i * 2] = set0_[i].u;
            set0Array_[i * 2 + 1] = set0_[i].v;
        }
    }
    if (!set1_.empty() && material_->usesSet1()) {
        set1Array_.resize(count * 2);
        for (size_t i = 0; i < count; ++i) {
            set1Array_[i * 2] = set1_[i].u;
            set1Array_[i * 2 + 1] = set1_[i].v;
        }
    }
    if (material_->needsEnvironmentCoordinates()) environmentArray_.assign(count * 2, 0.0f);
    if (bump) {
        bumpArray_.assign(count * 3, 0.0f);
        computeTangents();
    }

    if (useBufferObjects_ && glGenBuffersARB) {
        glGenBuffersARB(4, buffers_);
        auto upload = [](GLuint buffer, const std::vector<float>& data) {
            glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffer);
            glBufferDataARB(GL_ARRAY_BUFFER_ARB, static_cast<GLsizeiptrARB>(data.size() * sizeof(float)),
                            data.empty() ? nullptr : data.data(), GL_STATIC_DRAW_ARB);
        };
        upload(buffers_[0], positionArray_);
        upload(buffers_[1], normalArray_);
        if (!set0Array_.empty()) upload(buffers_[2], set0Array_);
        if (!set1Array_.empty()) upload(buffers_[3], set1Array_);
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
        glGenBuffersARB(1, &indexBuffer_);
        glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, indexBuffer_);
        glBufferDataARB(GL_ELEMENT_ARRAY_BUFFER_ARB,
                        static_cast<GLsizeiptrARB>(indexArray_.size() * sizeof(GLuint)),
                        indexArray_.empty() ? nullptr : indexArray_.data(), GL_STATIC_DRAW_ARB);
        glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
    } else {
        useBufferObjects_ = false;
    }
}

void MeshObject::restoreDrawCache(DrawCache cache) {
    bumpArray_ = std::move(cache.bump);
    tangents_ = std::move(cache.tangents);
    bitangents_ = std::move(cache.bitangents);
    bumpLight_ = cache.light;
    bumpValid_ = cache.valid;
}

void MeshObject::computeTangents() {
    const size_t count = vertices_.size();
    tangents_.assign(count, Vector3());
    bitangents_.assign(count, Vector3());
    if (!set0_.empty()) {
        for (const MeshFace& face : faces_) {
            const size_t a = static_cast<size_t>(face.vertex[0]), b = static_cast<size_t>(face.vertex[1]),
                         c = static_cast<size_t>(face.vertex[2]);
            const Vector3 e1 = vertices_[b].position - vertices_[a].position;
            const Vector3 e2 = vertices_[c].position - vertices_[a].position;
            const float du1 = set0_[b].u - set0_[a].u, dv1 = set0_[b].v - set0_[a].v;
            const float du2 = set0_[c].u - set0_[a].u, dv2 = set0_[c].v - set0_[a].v;
            const float det = du1 * dv2 - du2 * dv1;
            if (std::fabs(det) < 1e-12f) continue;
            const float r = 1.0f / det;
            const Vector3 t = (e1 * dv2 - e2 * dv1) * r;
            const Vector3 bt = (e2 * du1 - e1 * du2) * r;
            for (size_t v : {a, b, c}) {
                tangents_[v] += t;
                bitangents_[v] += bt;
            }
        }
    }
    for (size_t i = 0; i < count; ++i) {
        const Vector3 n(normalArray_[i * 3], normalArray_[i * 3 + 1], normalArray_[i * 3 + 2]);
        // Gram-Schmidt against the normal; the texture's v axis keeps its handedness.
        Vector3 t = tangents_[i] - n * n.dot(tangents_[i]);
        if (t.lengthSquared() < 1e-10f) {
            // No usable coordinates here: any direction across the normal will do.
            t = std::fabs(n.x) < 0.9f ? Vector3(1, 0, 0).cross(n).cross(n) * -1.0f
                                      : Vector3(0, 1, 0).cross(n);
        }
        t.normalize();
        Vector3 b = n.cross(t);
        if (b.dot(bitangents_[i]) < 0.0f) b = b * -1.0f;
        tangents_[i] = t;
        bitangents_[i] = b;
    }
}

void MeshObject::updateBumpVectors() {
    // The light in object space: its eye-space position as GL keeps it, taken back through
    // this object's modelview.
    Vector3 eyeLight(0.0f, 0.0f, 0.0f);
    Light* light = scene_ ? scene_->currentLight() : nullptr;
    if (light && light->lightNumber() >= 0 && light->lightNumber() < Light::maxLights()) {
        float p[4] = {0, 0, 0, 1};
        glGetLightfv(light->glLight(), GL_POSITION, p);
        if (p[3] != 0.0f) eyeLight = Vector3(p[0] / p[3], p[1] / p[3], p[2] / p[3]);
    }
    Matrix4 modelview, inverse;
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview.m);
    modelview.inverse(inverse);
    const Vector3 local = inverse.transformPoint(eyeLight);
    const bool moved = !bumpValid_ || std::fabs(local.x - bumpLight_.x) > 1e-5f ||
                       std::fabs(local.y - bumpLight_.y) > 1e-5f || std::fabs(local.z - bumpLight_.z) > 1e-5f;
    if (!moved && morphFrames_ == 0) return;
    bumpLight_ = local;
    bumpValid_ = true;
    const size_t count = vertices_.size();
    for (size_t i = 0; i < count; ++i) {
        const Vector3 p(positionArray_[i * 3], positionArray_[i * 3 + 1], positionArray_[i * 3 + 2]);
        const Vector3 n(normalArray_[i * 3], normalArray_[i * 3 + 1], normalArray_[i * 3 + 2]);
        const Vector3 l = (local - p).normalized();
        // Unit length per vertex; interpolation shortens it and the cube map renormalises.
        bumpArray_[i * 3] = l.dot(tangents_[i]);
        bumpArray_[i * 3 + 1] = l.dot(bitangents_[i]);
        bumpArray_[i * 3 + 2] = l.dot(n);
    }
}

void MeshObject::generateEnvironmentCoordinates() {
    float m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    const size_t count = vertices_.size();
    for (size_t i = 0; i < count; ++i) {
        const float nx = normalArray_[i * 3], ny = normalArray_[i * 3 + 1], nz = normalArray_[i * 3 + 2];
        environmentArray_[i * 2] = (nx * m[0] + ny * m[4] + nz * m[8] + 1.0f) * 0.5f;
        environmentArray_[i * 2 + 1] = (nx * m[1] + ny * m[5] + nz * m[9] + 1.0f) * 0.5f;
    }
}

void MeshObject::draw() {
    if (faces_.empty()) return;
    if (!material_) {
        reportErrorText(__FILE__, __LINE__, "Mesh has no material", name_.c_str(), true);
        return;
    }
    if (!built_) build();
    // A material given after the build may need arrays the first one did not.
    const size_t count = vertices_.size();
    if (material_->needsEnvironmentCoordinates() && environmentArray_.size() != count * 2)
        environmentArray_.assign(count * 2, 0.0f);
    if (material_->hasBumpTexture() && bumpArray_.size() != count * 3) {
        bumpArray_.assign(count * 3, 0.0f);
        computeTangents();
        bumpValid_ = false;
    }
    const bool environment = material_->needsEnvironmentCoordinates() && !environmentArray_.empty();
    const bool bump = material_->hasBumpTexture() && !bumpArray_.empty();
    if (environment) generateEnvironmentCoordinates();
    if (bump) updateBumpVectors();
    // The shadow unit only samples a map made this frame: a stale one would shadow the wrong
    // places. Every receiver draws the second pass below, map or not: without one nothing is in
    // shadow, and the mesh looks like the open places of a shadowed frame.
    const bool receive = shadowReceiver_ && scene_;
    const bool sampleMap = receive && scene_->shadowMapActive();
    if (sampleMap) {
        glActiveTextureARB(GL_TEXTURE2_ARB);
        glEnable(GL_TEXTURE_2D);
        glActiveTextureARB(GL_TEXTURE0_ARB);
    }
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    material_->apply();
    drawArrays();
    material_->restore();

    if (receive) {
        // The unshadowed half: the lighting without the shadow light, blended over the
        // shadowed pass at half strength.
        glActiveTextureARB(GL_TEXTURE2_ARB);
        glDisable(GL_TEXTURE_2D);
        glActiveTextureARB(GL_TEXTURE0_ARB);
        const float opacity = material_->opacity();
        material_->setOpacity(opacity * 0.5f);
        material_->apply();
        glDepthFunc(GL_EQUAL);
        Light* spot = scene_->findLightByName("Spot01");
        const bool switchedOff = spot && spot->enabled();
        if (switchedOff) spot->setEnabled(false);
        drawArrays();
        glDepthFunc(GL_LEQUAL);
        material_->restore();
        material_->setOpacity(opacity);
        if (switchedOff) spot->setEnabled(true);
    }
}

void MeshObject::drawArrays() {
    const bool vbo = useBufferObjects_ && buffers_[0] != 0;
    const bool several = material_->usesSeveralUnits();
    bool enabledUnit[3] = {false, false, false};

    auto pointer = [&](GLuint buffer, const std::vector<float>& data, int size, GLenum kind) {
        if (vbo && buffer) {
            glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffer);
        } else if (vbo) {
            glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
        }
        const void* at = (vbo && buffer) ? nullptr : data.data();
        if (kind == GL_VERTEX_ARRAY)
            glVertexPointer(size, GL_FLOAT, 0, at);
        else if (kind == GL_NORMAL_ARRAY)
            glNormalPointer(GL_FLOAT, 0, at);
        else
            glTexCoordPointer(size, GL_FLOAT, 0, at);
    };
    auto texCoords = [&](int unit, bool select, GLuint buffer, const std::vector<float>& data, int size) {
        // A set the mesh does not have is never enabled: GL would read from a null pointer.
        if (data.empty()) return;
        if (select) glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        const int slot = select ? unit : 0;
        pointer(buffer, data, size, GL_TEXTURE_COORD_ARRAY);
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        enabledUnit[slot] = true;
    };

    pointer(buffers_[0], positionArray_, 3, GL_VERTEX_ARRAY);
    glEnableClientState(GL_VERTEX_ARRAY);
    const bool normals = material_->lit();
    if (normals) {
        pointer(buffers_[1], normalArray_, 3, GL_NORMAL_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
    }
    // Only what the current material reads: it may have replaced the one the arrays were made for.
    const bool environment = material_->needsEnvironmentCoordinates();
    if (material_->hasBumpTexture() && !bumpArray_.empty()) {
        texCoords(0, true, buffers_[2], set0Array_, 2);
        texCoords(1, true, 0, bumpArray_, 3);
        if (environment && !environmentArray_.empty())
            texCoords(2, true, 0, environmentArray_, 2);
        else
            texCoords(2, true, buffers_[2], set0Array_, 2);
    } else {
        if (material_->usesSet0() || material_->shadeModel() == 13)
            texCoords(0, several, buffers_[2], set0Array_, 2);
        if (material_->usesSet1()) texCoords(1, several, buffers_[3], set1Array_, 2);
        if (environment) texCoords(1, several, 0, environmentArray_, 2);
    }
    if (vbo) glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    drawElements(vbo);
    checkGLError(__FILE__, __LINE__);

    for (int unit = 2; unit >= 0; --unit) {
        if (!enabledUnit[unit]) continue;
        glClientActiveTextureARB(GL_TEXTURE0_ARB + unit);
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glClientActiveTextureARB(GL_TEXTURE0_ARB);
    if (normals) glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void MeshObject::drawDepth() {
    if (faces_.empty() || positionArray_.empty()) return;
    const bool vbo = useBufferObjects_ && buffers_[0] != 0;
    if (vbo) {
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, buffers_[0]);
        glVertexPointer(3, GL_FLOAT, 0, nullptr);
        glBindBufferARB(GL_ARRAY_BUFFER_ARB, 0);
    } else {
        glVertexPointer(3, GL_FLOAT, 0, positionArray_.data());
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    drawElements(vbo);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void MeshObject::drawElements(bool vbo) {
    const GLsizei count = static_cast<GLsizei>(indexArray_.size());
    if (vbo && indexBuffer_) {
        glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, indexBuffer_);
        glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, nullptr);
        glBindBufferARB(GL_ELEMENT_ARRAY_BUFFER_ARB, 0);
    } else {
        glDrawElements(GL_TRIANGLES, count, GL_UNSIGNED_INT, indexArray_.data());
    }
}

void MeshObject::setMorphData(int frameCount, std::vector<float> positions, std::vector<float> normals) {
    morphFrames_ = frameCount > 0 ? frameCount : 0;
    morphPositions_ = std::move(positions);
    morphNormals_ = std::move(normals);
    atMorphEnd_ = false;
    // Morphing rewrites the arrays every frame: they are drawn from client memory from now on.
    useBufferObjects_ = false;
    releaseBuffers();
}

void MeshObject::morph(float x) {
    const size_t frameSize = vertices_.size() * 3;
    const size_t needed = frameSize * static_cast<size_t>(morphFrames_);
    if (!scene_ || morphFrames_ <= 0 || morphPositions_.size() < needed || morphNormals_.size() < needed ||
        positionArray_.size() < frameSize || normalArray_.size() < frameSize) {
        reportError(__FILE__, __LINE__, "Morphing without data", true);
        return;
    }
    auto copyFrame = [&](int frame) {
        const size_t at = frameSize * static_cast<size_t>(frame);
        std::memcpy(positionArray_.data(), morphPositions_.data() + at, frameSize * sizeof(float));
        std::memcpy(normalArray_.data(), morphNormals_.data() + at, frameSize * sizeof(float));
    };
    auto blend = [&](int d, float f) {
        const float* p0 = morphPositions_.data() + frameSize * static_cast<size_t>(d);
        const float* p1 = p0 + frameSize;
        const float* n0 = morphNormals_.data() + frameSize * static_cast<size_t>(d);
        const float* n1 = n0 + frameSize;
        for (size_t i = 0; i < frameSize; ++i) {
            positionArray_[i] = f * p1[i] + (1.0f - f) * p0[i];
            normalArray_[i] = f * n1[i] + (1.0f - f) * n0[i];
        }
    };
    const float start = static_cast<float>(scene_->morphStartFrame());
    if (x < start) {
        copyFrame(0);
        // The arrays no longer hold the last frame: a later jump past the end must copy it again.
        atMorphEnd_ = false;
        return;
    }
    // A negative rate would run before the first morph frame: hold that frame instead.
    const float a = std::max(0.0f, (x - start) * scene_->morphRate());
    const float d = std::floor(a);
    const float f = a - d;
    if (d + 1.0f < static_cast<float>(morphFrames_)) {
        atMorphEnd_ = false;
        blend(static_cast<int>(d), f);
        return;
    }
    if (scene_->morphLoop()) {
        copyFrame(0);
        if (morphFrames_ > 1) blend(0, f);
        return;
    }
    if (atMorphEnd_) return;
    copyFrame(morphFrames_ - 1);
    atMorphEnd_ = true;
}
