#include "engine/SceneObject.h"

#include "platform/GL.h"

#include <algorithm>

NamedNode::~NamedNode() {
    // Take the chain apart first so that each destructor sees no successor: a long chain would
    // otherwise recurse once per sibling.
    NamedNode* node = next_;
    next_ = nullptr;
    while (node) {
        NamedNode* following = node->next_;
        node->next_ = nullptr;
        node->previous_ = nullptr;
        delete node;
        node = following;
    }
}

SceneObject::~SceneObject() {
    delete firstChild_;
}

void SceneObject::animate(int frame, float fraction) {
    if (animationMode_ != 2 || keyCount_ <= 0) return;
    if (frame >= keyCount_) frame = keyCount_ - 1;
    if (frame < 0) frame = 0;
    const size_t k = static_cast<size_t>(frame);
    if (frame == keyCount_ - 1) {
        if (positionKeys_) position_ = (*positionKeys_)[k];
        if (rotationKeys_) rotation_ = Matrix4::fromQuaternion((*rotationKeys_)[k]);
        if (scaleKeys_) scale_ = (*scaleKeys_)[k];
        return;
    }
    if (rotationKeys_)
        rotation_ = Matrix4::fromQuaternion(
            Quaternion::slerp((*rotationKeys_)[k], (*rotationKeys_)[k + 1], fraction));
    if (positionKeys_) position_ = Vector3::lerp((*positionKeys_)[k], (*positionKeys_)[k + 1], fraction);
    if (scaleKeys_) scale_ = Vector3::lerp((*scaleKeys_)[k], (*scaleKeys_)[k + 1], fraction);
}

void SceneObject::applyTransform(bool withOffset) const {
    const Vector3 at = withOffset ? position_ + offset_ : position_;
    glTranslatef(at.x, at.y, at.z);
    glMultMatrixf(rotation_.m);
    glScalef(scale_.x, scale_.y, scale_.z);
}

namespace {

// Matrices the GL modelview stack can still take during one walk (-1: no walk under way). The
// stack is only guaranteed 32 deep; past that a level keeps its matrix on the CPU instead.
int matrixRoom = -1;

class SavedMatrix {
  public:
    SavedMatrix() {
        if (matrixRoom > 0) {
            --matrixRoom;
            glPushMatrix();
            onStack = true;
        } else {
            glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
        }
    }
    void restore() {
        if (restored) return;
        restored = true;
        if (onStack) {
            glPopMatrix();
            ++matrixRoom;
        } else {
            glMatrixMode(GL_MODELVIEW);
            glLoadMatrixf(matrix);
        }
    }
    ~SavedMatrix() { restore(); }

  private:
    float matrix[16] = {};
    bool onStack = false;
    bool restored = false;
};

// Ends the walk's bookkeeping however the outermost walk is left.
struct WalkEnd {
    bool outermost;
    ~WalkEnd() {
        if (outermost) matrixRoom = -1;
    }
};

} // namespace

void SceneObject::renderChain(bool depth) {
    const WalkEnd end{matrixRoom < 0};
    if (end.outermost) {
        GLint used = 0, most = 0;
        glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &used);
        glGetIntegerv(GL_MAX_MODELVIEW_STACK_DEPTH, &most);
        matrixRoom = most > used ? most - used : 0;
    }
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        SavedMatrix saved;
        object->applyTransform(!depth);
        if (object->visible_) {
            if (depth)
                object->drawDepth();
            else
                object->draw();
        }
        if (!object->hierarchical_) saved.restore();
        if (object->firstChild_) object->firstChild_->renderChain(depth);
        saved.restore();
    }
}

void SceneObject::render() {
    renderChain(false);
}

void SceneObject::renderDepth() {
    renderChain(true);
}

// The recursive set-ups walk the following siblings in a loop and recurse only into children.
void SceneObject::bindScene(Scene* scene) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->bindSelf(scene);
        if (object->firstChild_) object->firstChild_->bindScene(scene);
    }
}

void SceneObject::setShadowReceiver(bool receiver) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->setShadowReceiverSelf(receiver);
        if (object->firstChild_) object->firstChild_->setShadowReceiver(receiver);
    }
}

void SceneObject::setReservedFlag(bool flag) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->reserved_ = flag;
        if (object->firstChild_) object->firstChild_->setReservedFlag(flag);
    }
}

void SceneObject::setMaterial(Material* material) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->setMaterialSelf(material);
        if (object->firstChild_) object->firstChild_->setMaterial(material);
    }
}

void SceneObject::setShadeModel(int model) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->setShadeModelSelf(model);
        if (object->firstChild_) object->firstChild_->setShadeModel(model);
    }
}

void SceneObject::updateKeyCount() {
    // Tracks of unequal length would index past the shorter ones: the shortest decides.
    int count = -1;
    if (positionKeys_) count = static_cast<int>(positionKeys_->size());
    if (rotationKeys_) {
        const int n = static_cast<int>(rotationKeys_->size());
        count = count < 0 ? n : std::min(count, n);
    }
    if (scaleKeys_) {
        const int n = static_cast<int>(scaleKeys_->size());
        count = count < 0 ? n : std::min(count, n);
    }
    keyCount_ = count < 0 ? 0 : count;
    animationMode_ = 2;
}

void SceneObject::setPositionKeys(int count, const Vector3* keys) {
    if (count > 0 && keys)
        positionKeys_ = std::make_shared<const std::vector<Vector3>>(keys, keys + count);
    else
        positionKeys_.reset();
    updateKeyCount();
}

void SceneObject::setRotationKeys(int count, const Quaternion* keys) {
    if (count > 0 && keys)
        rotationKeys_ = std::make_shared<const std::vector<Quaternion>>(keys, keys + count);
    else
        rotationKeys_.reset();
    updateKeyCount();
}

void SceneObject::setScaleKeys(int count, const Vector3* keys) {
    if (count > 0 && keys)
        scaleKeys_ = std::make_shared<const std::vector<Vector3>>(keys, keys + count);
    else
        scaleKeys_.reset();
    updateKeyCount();
}

void SceneObject::setVisible(bool visible, bool recursive) {
    visible_ = visible;
    if (!recursive) return;
    for (SceneObject* child = firstChild_; child; child = child->nextSibling())
        child->setVisible(visible, true);
}

void SceneObject::setHierarchical(bool hierarchical, bool recursive) {
    for (SceneObject* object = this; object; object = object->nextSibling()) {
        object->hierarchical_ = hierarchical;
        if (!recursive) return;
        if (object->firstChild_) object->firstChild_->setHierarchical(hierarchical, true);
    }
}

void SceneObject::appendSibling(SceneObject* object) {
    if (!object || object == this) return;
    NamedNode* last = this;
    while (last->next_)
        last = last->next_;
    last->next_ = object;
    object->previous_ = last;
}

void SceneObject::appendChild(SceneObject* child) {
    if (!child) return;
    if (!firstChild_) {
        firstChild_ = child;
        child->previous_ = nullptr;
    } else {
        firstChild_->appendSibling(child);
    }
}

void SceneObject::unlink(SceneObject*& root) {
    if (previous_)
        previous_->next_ = next_;
    else if (root == this)
        root = nextSibling();
    if (next_) next_->previous_ = previous_;
    next_ = nullptr;
    previous_ = nullptr;
}

void SceneObject::copyInto(SceneObject& target) const {
    target.name_ = name_;
    target.id_ = id_;
    target.rotation_ = rotation_;
    target.position_ = position_;
    target.scale_ = scale_;
    target.secondaryScale_ = secondaryScale_;
    target.offset_ = offset_;
    target.keyCount_ = keyCount_;
    target.frameCount_ = frameCount_;
    target.positionKeys_ = positionKeys_;
    target.rotationKeys_ = rotationKeys_;
    target.scaleKeys_ = scaleKeys_;
    target.animationMode_ = animationMode_;
    target.visible_ = visible_;
    target.hierarchical_ = hierarchical_;
    for (SceneObject* child = firstChild_; child; child = child->nextSibling()) {
        // Clone each child alone: a clone brings its children but no siblings.
        target.appendChild(child->clone());
    }
}

SceneObject* DummyObject::clone() const {
    DummyObject* copy = new DummyObject(id_, name_);
    copyInto(*copy);
    return copy;
}
