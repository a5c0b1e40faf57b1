// A perspective camera that looks at a target object. Draws nothing.
#pragma once

#include "engine/SceneObject.h"

class Camera : public SceneObject {
  public:
    // Stands at (0, 0, 5) until a file or a caller moves it.
    Camera(int32_t id, const std::string& name);

    SceneObject* clone() const override;

    void setFieldOfView(float degrees) { fieldOfView_ = degrees; }
    void setAspect(float aspect) { aspect_ = aspect; }
    void setNear(float distance) { near_ = distance; }
    void setFar(float distance) { far_ = distance; }
    void setTargetId(int32_t id) { targetId_ = id; }
    void setTarget(SceneObject* target) { target_ = target; }

    // Projection from the usable values below; with a target, the view looks at it.
    void apply();

    // The values the projection uses: a field of view outside (0, 180), a near plane at or
    // behind the eye and a far plane not beyond the near one are brought into range.
    float fieldOfView() const;
    float aspect() const;
    float nearPlane() const;
    float farPlane() const;
    // As set.
    float storedFieldOfView() const { return fieldOfView_; }
    float storedNear() const { return near_; }
    float storedFar() const { return far_; }

    int32_t targetId() const { return targetId_; }
    SceneObject* target() const { return target_; }

  private:
    float fieldOfView_ = 45.0f;
    float aspect_ = 1.333f;
    float near_ = 1.0f;
    float far_ = 2000.0f;
    int32_t targetId_ = -1;
    SceneObject* target_ = nullptr;
};

// gluPerspective with the camera's usable values.
void applyPerspective(const Camera& camera);
// gluLookAt from eye to target with up (0, 1, 0); another up vector when the view runs along it.
// Nothing happens when eye and target coincide.
void lookAt(const Vector3& eye, const Vector3& target);
