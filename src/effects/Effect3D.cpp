#include "effects/Effect3D.h"

#include "base/Report.h"
#include "engine/Camera.h"
#include "engine/Light.h"
#include "engine/MeshObject.h"
#include "engine/Scene.h"
#include "engine/SceneLoaderQZG.h"
#include "engine/SceneObject.h"
#include "resources/PBuffer.h"

Effect3D::Effect3D(const std::string& name) : Effect(name) {
    registerVariable(loop, "Loop", NoList, KindBool);
    registerVariable(shadows, "Shadows", NoList, KindBool);
    // List-backed: setup-section texts become list items, so neither is string-valued.
    camera.count = 0;
    registerVariable(camera, "Camera", 1000, KindInt);
    registerVariable(fov, "FOV", NoList, KindFloat);
    registerVariable(fog, "Fog", NoList, KindBool);
    fogMode.count = 3;
    registerVariable(fogMode, "FogMode", NoList, KindInt);
    registerVariable(fogR, "FogR", NoList, KindFloat);
    registerVariable(fogG, "FogG", NoList, KindFloat);
    registerVariable(fogB, "FogB", NoList, KindFloat);
    registerVariable(fogDensity, "FogDensity", NoList, KindFloat);
    registerVariable(fogScale, "FogScale", NoList, KindFloat);
    registerVariable(fogStart, "FogStart", NoList, KindFloat);
    registerVariable(fogEnd, "FogEnd", NoList, KindFloat);
    datafile.count = 1;
    registerVariable(datafile, "Datafile", 0, KindInt);
    registerVariable(lightingOn, "LightingOn", NoList, KindBool);
    registerVariable(lightingOff, "LightingOff", NoList, KindBool);
    registerVariable(moreLight, "MoreLight", NoList, KindBool);
    registerVariable(vShader, "VShader", NoList, KindBool);
}

void Effect3D::start(int time) {
    Effect::start(time);
    if (!scene) return;
    // Setting the light colours switches lighting on; start runs outside the drawing, where the 2D
    // effects expect it as it was (the scene's materials switch it on again while it draws).
    const bool lit = glIsEnabled(GL_LIGHTING);
    scene->applyLightColours();
    if (!lit) glDisable(GL_LIGHTING);
    rotationSpeed = Vector3();
    frozen = false;
}

void Effect3D::prepare(int time) {
    const int index = static_cast<int>(datafile.valueAt(time));
    if (index == loadedIndex) return;
    load(listItem(0, index));
    loadedIndex = index;
}

void Effect3D::updateState(int time) {
    Effect3D::update(time);
}

void Effect3D::patternStep(float) {}

MeshObject* Effect3D::findMeshWithMaterial(const Scene& scene, const std::string& name) {
    for (SceneObject* object : scene.objects()) {
        auto* mesh = dynamic_cast<MeshObject*>(object);
        if (mesh && mesh->material() && mesh->name() == name) return mesh;
    }
    return nullptr;
}

bool Effect3D::load(const std::string& fileName) {
    if (fileName.empty() || fileName == dataFileName) return false;
    SceneLoaderQZG loader;
    Scene* loaded = loader.load(fileName.c_str(), textureDirectory);
    if (!loaded) {
        reportErrorText(__FILE__, __LINE__, "could not load scene", fileName.c_str(), false);
        return false;
    }
    return adopt(loaded, fileName);
}

bool Effect3D::adopt(Scene* loaded, const std::string& fileName) {
    if (!loaded) return false;
    if (loaded->cameraCount() == 0) {
        reportErrorText(__FILE__, __LINE__, "no camera in scene", fileName.c_str(), true);
        return false;
    }
    scene = loaded;
    dataFileName = fileName;
    selectedObject = nullptr;
    selectedLight = nullptr;
    camera.value = 0;
    if (Camera* current = scene->currentCamera()) fov.value = current->storedFieldOfView() * 0.0055555557f;
    camera.count = scene->cameraCount();
    clearList(1000);
    for (int i = 0; i < scene->cameraCount(); ++i)
        addListItem(1000, scene->camera(i)->name());
    shadowLight = scene->findLightByName(shadowLightName);
    shadowsApplied = false;
    return true;
}

void Effect3D::listItemAdded(int listId, const std::string& item, int count) {
    if (listId != 0) return;
    load(item);
    datafile.count = count;
}

void Effect3D::warmUp() {
    warmUpScene(0);
}

void Effect3D::warmUpScene(int setting) {
    if (!scene) return;
    bool shadowed = shadows.value;
    for (const auto& key : shadows.keys)
        shadowed = shadowed || key.value;
    scene->warmUp(shadowed ? shadowLight : nullptr, setting);
}

void Effect3D::update(int time) {
    Effect::update(time);
    if (!scene) return;
    scene->setLoop(loop.valueAt(time));

    // Keys never raise the changed flag on their own, so a keyed switch is noticed by its value.
    const bool wantShadows = shadows.valueAt(time);
    if (shadows.changed || !shadowsApplied || wantShadows != appliedShadows) {
        scene->setShadows(wantShadows);
        shadows.changed = false;
        shadowsApplied = true;
        appliedShadows = wantShadows;
    }

    if (!cameraByName) {
        scene->setCamera(static_cast<int>(camera.valueAt(time)));
        if (Camera* current = scene->currentCamera()) current->setFieldOfView(fov.valueAt(time) * 180.0f);
    }
    if (scene->shadows() && shadowLight) shadowLight->setShadowCaster(true);

    if (selectedObject) {
        const float e = signalLevel > 0 ? signalLevel * 10.0f - 5.0f : 0.0f;
        selectedObject->setOffset(e, e, e);
        selectedObject->setRotationDegrees(rotationSpeed.x * phase, rotationSpeed.y * phase,
                                           rotationSpeed.z * phase);
    }
}

void Effect3D::drawScene(float sceneTime) {
    scene->setTime(sceneTime);
    scene->animate();
    // Inside a render target the target's own lights go in place before the state is saved, so
    // that restoring it leaves them there.
    PBuffer::lightsInUse();
    // The scene leaves lights, culling and texture state behind; the 2D effects drawn after it (in
    // this frame and the next ones) expect the state they had before it.
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    scene->render();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}

void Effect3D::render(int) {
    if (!scene) return;
    drawScene(frozen ? frozenPhase : phase);
}

void Effect3D::signal(const Signal& s) {
    Effect::signal(s);
    if (!scene) return;
    const bool on = s.value > 0;
    switch (s.type) {
    case 1:
        // A scene without lights has no current light to flicker.
        if (scene->lightCount() > 0) {
            if (Light* light = scene->currentLight()) light->setFlicker(on);
        }
        break;
    case 6:
        selectedObject = scene->findObjectByName(s.text);
        break;
    case 11:
        rotationSpeed = Vector3(s.values[0], s.values[1], s.values[2]);
        break;
    case 16:
        if (selectedObject) selectedObject->setHierarchical(on, true);
        break;
    case 18:
        scene->findCameraIndexByName(s.text);
        cameraByName = true;
        break;
    case 20:
        if (selectedObject) selectedObject->setVisible(on, true);
        break;
    case 21:
        scene->setShadows(on);
        break;
    case 25:
        if (Camera* current = scene->currentCamera()) current->setFieldOfView(s.value);
        break;
    case 33:
        selectedLight = scene->findLightByName(s.text);
        break;
    case 34:
        // setEnabled switches the GL light too when the light has its number.
        if (selectedLight) selectedLight->setEnabled(on);
        break;
    case 35:
        frozen = on;
        frozenPhase = phase;
        break;
    default:
        break;
    }
}
