// The scene graph: named nodes in owned sibling chains, scene objects with a rest transform and
// per-frame key tracks, and the dummy object that only carries a transform.
#pragma once

#include "engine/Math3D.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Material;
class Scene;

class NamedNode {
  public:
    NamedNode(int32_t id, const std::string& name) : id_(id), name_(name) {}
    // Destroys the whole following sibling chain (iteratively: chains can be long).
    virtual ~NamedNode();
    NamedNode(const NamedNode&) = delete;
    NamedNode& operator=(const NamedNode&) = delete;

    int32_t id() const { return id_; }
    const std::string& name() const { return name_; }
    void setId(int32_t id) { id_ = id; }
    void setName(const std::string& name) { name_ = name; }

  protected:
    friend class Scene;       // takes a scene's objects apart at its destruction
    friend class SceneObject; // links chains through the base pointers
    int32_t id_;
    std::string name_;
    NamedNode* next_ = nullptr;     // owned
    NamedNode* previous_ = nullptr; // not owned
};

class SceneObject : public NamedNode {
  public:
    SceneObject(int32_t id, const std::string& name) : NamedNode(id, name) {}
    ~SceneObject() override; // destroys the first child (with its siblings)

    virtual SceneObject* clone() const = 0;
    // Samples the key tracks (only in animation mode 2).
    virtual void animate(int frame, float fraction);
    // Draws this object, its children and then its following siblings.
    virtual void render();
    // Meshes find their material; passed on to the children and the following siblings.
    // Overrides go to the *Self hooks below; these walk the tree.
    virtual void bindScene(Scene* scene);
    // Recursive over the children and the following siblings.
    virtual void setShadowReceiver(bool receiver);
    virtual void setReservedFlag(bool flag);
    virtual void setMaterial(Material* material);
    virtual Material* material() const { return nullptr; }
    virtual void setShadeModel(int model);
    // Own geometry in the current modelview; nothing in the base.
    virtual void draw() {}
    // Own positions only, for the shadow-map pass.
    virtual void drawDepth() {}

    // The depth-pass walk: like render but without the offset, drawing with drawDepth.
    void renderDepth();

    void setPosition(const Vector3& p) { position_ = p; }
    void setScale(const Vector3& s) { scale_ = s; }
    void setSecondaryScale(const Vector3& s) { secondaryScale_ = s; }
    void setRotationMatrix(const Matrix4& r) { rotation_ = r; }
    void setRotationDegrees(float x, float y, float z) { rotation_ = Matrix4::fromEulerDegrees(x, y, z); }
    void setOffset(float x, float y, float z) { offset_ = Vector3(x, y, z); }

    // Each sets the animation mode to 2. Tracks of unequal length animate over the shortest.
    void setPositionKeys(int count, const Vector3* keys);
    void setRotationKeys(int count, const Quaternion* keys);
    void setScaleKeys(int count, const Vector3* keys);
    void setFrameCount(int frames) { frameCount_ = frames; }

    // Visible: the object and its descendants. Hierarchical: also the following siblings.
    void setVisible(bool visible, bool recursive);
    void setHierarchical(bool hierarchical, bool recursive);

    const Vector3& position() const { return position_; }
    const Vector3& scale() const { return scale_; }
    const Vector3& secondaryScale() const { return secondaryScale_; }
    const Matrix4& rotation() const { return rotation_; }
    const Vector3& offset() const { return offset_; }
    Vector3 worldPosition() const { return position_ + offset_; }
    bool visible() const { return visible_; }
    bool hierarchical() const { return hierarchical_; }
    int keyCount() const { return keyCount_; }
    int frameCount() const { return frameCount_; }
    int animationMode() const { return animationMode_; }
    bool reservedFlag() const { return reserved_; }

    SceneObject* nextSibling() const { return static_cast<SceneObject*>(next_); }
    SceneObject* previousSibling() const { return static_cast<SceneObject*>(previous_); }
    SceneObject* firstChild() const { return firstChild_; }
    // Links `object` at the end of this object's sibling chain.
    void appendSibling(SceneObject* object);
    // Makes `child` the first child, or appends it to the first child's chain.
    void appendChild(SceneObject* child);
    // Takes the object out of its chain; `root` is updated when the object was its head.
    void unlink(SceneObject*& root);

  protected:
    friend class Scene;
    // Copies what a clone shares: names, transform, key tracks (shared), flags; clones children.
    void copyInto(SceneObject& target) const;
    // Applies translate(position [+ offset]), rotation and scale to the modelview.
    void applyTransform(bool withOffset) const;

    Matrix4 rotation_;
    Vector3 position_;
    Vector3 scale_{1.0f, 1.0f, 1.0f};
    Vector3 secondaryScale_{1.0f, 1.0f, 1.0f};
    Vector3 offset_;
    SceneObject* firstChild_ = nullptr; // owned
    int keyCount_ = 0;
    int frameCount_ = 0;
    std::shared_ptr<const std::vector<Vector3>> positionKeys_;
    std::shared_ptr<const std::vector<Quaternion>> rotationKeys_;
    std::shared_ptr<const std::vector<Vector3>> scaleKeys_;
    int animationMode_ = 0;
    bool visible_ = true;
    bool hierarchical_ = false;
    bool reserved_ = false;

  private:
    void updateKeyCount();
    void renderChain(bool depth);

  protected:
    // What the recursive set-ups above do to one object (nothing unless overridden).
    virtual void bindSelf(Scene*) {}
    virtual void setShadowReceiverSelf(bool) {}
    virtual void setMaterialSelf(Material*) {}
    virtual void setShadeModelSelf(int) {}
};

// Carries a transform (and children); draws nothing.
class DummyObject : public SceneObject {
  public:
    DummyObject(int32_t id, const std::string& name) : SceneObject(id, name) {}
    SceneObject* clone() const override;
};
