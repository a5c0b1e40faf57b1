#include "engine/Camera.h"

#include "platform/GL.h"

#include <cmath>

Camera::Camera(int32_t id, const std::string& name) : SceneObject(id, name) {
    position_ = Vector3(0.0f, 0.0f, 5.0f);
}

SceneObject* Camera::clone() const {
    Camera* copy = new Camera(id_, name_);
    copyInto(*copy);
    copy->fieldOfView_ = fieldOfView_;
    copy->aspect_ = aspect_;
    copy->near_ = near_;
    copy->far_ = far_;
    copy->targetId_ = targetId_;
    copy->target_ = target_;
    return copy;
}

// A projection needs 0 < near < far and 0 < field of view < 180; anything else gives a
// singular or mirrored matrix (and GL errors from gluPerspective's divisions).
float Camera::fieldOfView() const {
    if (!(fieldOfView_ > 0.0f)) return 1.0f;
    if (fieldOfView_ >= 180.0f) return 179.0f;
    return fieldOfView_;
}

float Camera::aspect() const {
    return aspect_ > 0.0f ? aspect_ : 1.333f;
}

float Camera::nearPlane() const {
    return near_ > 0.0f ? near_ : 0.1f;
}

float Camera::farPlane() const {
    const float n = nearPlane();
    return far_ > n ? far_ : n * 2000.0f;
}

void applyPerspective(const Camera& camera) {
    gluPerspective(camera.fieldOfView(), camera.aspect(), camera.nearPlane(), camera.farPlane());
}

void lookAt(const Vector3& eye, const Vector3& target) {
    const Vector3 forward = target - eye;
    const float length = forward.length();
    if (!(length > 0.0f)) return;
    Vector3 up(0.0f, 1.0f, 0.0f);
    // Looking straight up or down leaves (0, 1, 0) no sideways part; z stands in for it.
    const Vector3 side = forward.cross(up);
    if (side.length() < 1e-6f * length) up = Vector3(0.0f, 0.0f, forward.y > 0.0f ? 1.0f : -1.0f);
    gluLookAt(eye.x, eye.y, eye.z, target.x, target.y, target.z, up.x, up.y, up.z);
}

void Camera::apply() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    applyPerspective(*this);
    glMatrixMode(GL_MODELVIEW);
    if (target_) lookAt(worldPosition(), target_->worldPosition());
}
