// holdfast-scene import as a whole program: models written here (glTF with an embedded picture,
// OBJ with a material file) go in, and the scene that comes out is checked with `info` and by
// drawing it through the engine.
#include "GLTest.h"
#include "engine/Scene.h"
#include "engine/SceneLoaderQZG.h"
#include "engine/SceneShapes.h"
#include "platform/GL.h"
#include "resources/ImageLibrary.h"
#include "resources/PngWriter.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

namespace {

const std::string tool = std::string(HOLDFAST_BIN_DIR) + "/holdfast-scene";

void expectIn(const std::string& text, const std::string& part) {
    EXPECT_NE(text.find(part), std::string::npos) << "missing " << part << " in\n" << text;
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string base64(const std::string& bytes) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v =
            (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8 | (unsigned char)bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6)
            out += table[(v >> s) & 63];
    }
    if (i + 1 == bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16;
        out += table[(v >> 18) & 63], out += table[(v >> 12) & 63], out += "==";
    } else if (i + 2 == bytes.size()) {
        unsigned v = (unsigned char)bytes[i] << 16 | (unsigned char)bytes[i + 1] << 8;
        out += table[(v >> 18) & 63], out += table[(v >> 12) & 63], out += table[(v >> 6) & 63], out += '=';
    }
    return out;
}

template <typename T> void append(std::string& buffer, std::initializer_list<T> values) {
    for (T v : values)
        buffer.append(reinterpret_cast<const char*>(&v), sizeof v);
}

// A 4 x 4 picture: the top half red, the bottom half blue, so that its orientation shows.
std::string halvesPng(const std::string& dir) {
    std::vector<unsigned char> rgb;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            rgb.insert(rgb.end(), {static_cast<unsigned char>(y < 2 ? 255 : 0), 0,
                                   static_cast<unsigned char>(y < 2 ? 0 : 255)});
    const std::string path = dir + "/halves.png";
    writeFile(path, "");
    EXPECT_TRUE(writeRgbPng(path, 4, 4, rgb.data(), false, false));
    return readFile(path);
}

// Two-level hierarchy: "Base" (at z = -1, turned 90 degrees about z) holds "Panel", a textured
// 2 x 2 quad facing +z whose translation is keyed 0 -> 1 -> 2 along x over two seconds; "Cam"
// looks down -z from z = 5; "Lamp" is a point light at z = 10. The picture is embedded. With
// `binary`, the buffer is left to the caller (a .glb's binary chunk) instead of a data URI.
std::string animatedGltf(const std::string& dir, std::string* binary = nullptr) {
    std::string buffer;
    append<float>(buffer, {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0}); // 0: positions
    append<float>(buffer, {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});     // 48: normals
    append<float>(buffer, {0, 1, 1, 1, 1, 0, 0, 0});                 // 96: uv, top-left origin
    append<uint16_t>(buffer, {0, 1, 2, 0, 2, 3});                    // 128: indices
    append<float>(buffer, {0, 1, 2});                                // 140: key times
    append<float>(buffer, {0, 0, 0, 1, 0, 0, 2, 0, 0});              // 152: translations
    if (binary) *binary = buffer;
    const std::string png = base64(halvesPng(dir));
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,2,3]}],
"extensionsUsed":["KHR_lights_punctual"],
"extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","color":[1,1,1],"intensity":1}]}},
"nodes":[
 {"name":"Base","translation":[0,0,-1],"rotation":[0,0,0.70710678,0.70710678],"children":[1]},
 {"name":"Panel","mesh":0},
 {"name":"Cam","camera":0,"translation":[0,0,5]},
 {"name":"Lamp","translation":[0,0,10],"extensions":{"KHR_lights_punctual":{"light":0}}}],
"cameras":[{"type":"perspective","perspective":{"yfov":0.6,"aspectRatio":1.3333333,"znear":0.5,"zfar":100}}],
"meshes":[{"name":"PanelMesh","primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,"material":0}]}],
"materials":[{"name":"Poster","pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0}}],
"textures":[{"source":0}],
"images":[{"uri":"data:image/png;base64,)" +
           png + R"("}],
"animations":[{"channels":[{"sampler":0,"target":{"node":1,"path":"translation"}}],
  "samplers":[{"input":4,"output":5,"interpolation":"LINEAR"}]}],
"buffers":[{"byteLength":188)" +
           (binary ? "" : ",\"uri\":\"data:application/octet-stream;base64," + base64(buffer) + "\"") + R"(}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":48},
 {"buffer":0,"byteOffset":96,"byteLength":32},{"buffer":0,"byteOffset":128,"byteLength":12},
 {"buffer":0,"byteOffset":140,"byteLength":12},{"buffer":0,"byteOffset":152,"byteLength":36}],
"accessors":[
 {"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[-1,-1,0],"max":[1,1,0]},
 {"bufferView":1,"componentType":5126,"count":4,"type":"VEC3"},
 {"bufferView":2,"componentType":5126,"count":4,"type":"VEC2"},
 {"bufferView":3,"componentType":5123,"count":6,"type":"SCALAR"},
 {"bufferView":4,"componentType":5126,"count":3,"type":"SCALAR","min":[0],"max":[2]},
 {"bufferView":5,"componentType":5126,"count":3,"type":"VEC3"}]}
)";
}

// The binary container: the JSON chunk padded with spaces, then the binary chunk.
std::string asGlb(std::string json, std::string binary) {
    while (json.size() % 4)
        json += ' ';
    while (binary.size() % 4)
        binary += '\0';
    std::string out = "glTF";
    append<uint32_t>(out, {2, static_cast<uint32_t>(28 + json.size() + binary.size())});
    append<uint32_t>(out, {static_cast<uint32_t>(json.size()), 0x4E4F534Au});
    out += json;
    append<uint32_t>(out, {static_cast<uint32_t>(binary.size()), 0x004E4942u});
    return out + binary;
}

// The three numbers of `"key":[a,b,c` that follow `after` in `text`.
std::vector<float> numbersAfter(const std::string& text, const std::string& after, const std::string& key) {
    size_t at = text.find(after);
    if (at == std::string::npos) return {};
    at = text.find("\"" + key + "\":[", at);
    if (at == std::string::npos) return {};
    const char* p = text.c_str() + at + key.size() + 4;
    std::vector<float> out;
    for (int i = 0; i < 3; ++i) {
        char* end = nullptr;
        out.push_back(std::strtof(p, &end));
        p = end + 1;
    }
    return out;
}

void expectNear3(const std::vector<float>& v, float x, float y, float z) {
    ASSERT_EQ(v.size(), 3u);
    EXPECT_NEAR(v[0], x, 1e-4f);
    EXPECT_NEAR(v[1], y, 1e-4f);
    EXPECT_NEAR(v[2], z, 1e-4f);
}

class SceneImport : public GLTest {
  protected:
    void SetUp() override {
        // The tool runs without a display; only the drawing check needs the context.
        dir = makeTempDir();
        writeFile(dir + "/model/animated.gltf", animatedGltf(dir));
    }
    std::string dir;
};

} // namespace

TEST_F(SceneImport, GltfHierarchyAnimationCameraAndLight) {
    const std::string out = dir + "/data/scenes/imported.qzg";
    CommandResult r = runCommand(tool + " import " + dir + "/model/animated.gltf " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    r = runCommand(tool + " info --frame 25 " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string info = r.out;
    // Two seconds at 100 units a second, a frame every 4 units.
    expectIn(info, "\"firstFrame\":0,\"lastFrame\":200,\"frameStep\":4,\"frameCount\":51");
    expectIn(info, "{\"kind\":\"dummy\",\"name\":\"Base\",\"id\":1,\"parent\":-1,\"children\":[\"Panel\"]");
    expectIn(info, "{\"kind\":\"mesh\",\"name\":\"Panel\",\"id\":2,\"parent\":1,\"parentFound\":true");
    expectIn(info, "\"material\":1,\"vertices\":4,\"faces\":2,\"colours\":0,\"coordinateSets\":[4,0,0]}");
    // Only the position moves; keys are in world space: the parent's turn carries x over to y.
    expectIn(info, "\"keys\":{\"position\":51,\"rotation\":0,\"scale\":0,\"matchesFrames\":true}");
    expectNear3(numbersAfter(info, "\"name\":\"Panel\"", "position"), 0, 0, -1);
    expectNear3(numbersAfter(info, "\"name\":\"Panel\"", "at\":{\"frame\":25,\"position"), 0, 1, -1);
    // The rotation as the file keeps it (the conjugate of the drawn one).
    const scenefile::Float4 turn = scenefile::fileRotation(static_cast<float>(M_PI / 2), 0, 0, 1);
    expectNear3(numbersAfter(info, "\"name\":\"Base\"", "rotation"), turn[0], turn[1], turn[2]);

    expectIn(info,
             "{\"kind\":\"camera\",\"name\":\"Cam\",\"id\":3,\"parent\":-1,\"children\":[\"Cam.Target\"]");
    expectNear3(numbersAfter(info, "\"name\":\"Cam\"", "position"), 0, 0, 5);
    expectNear3(numbersAfter(info, "\"name\":\"Cam.Target\"", "position"), 0, 0, -5);
    expectIn(info, "\"near\":0.5,\"far\":100,\"target\":4}");
    // The vertical angle of the model survives the player's 4:3 conversion.
    const size_t vertical = info.find("\"verticalFieldOfViewDegrees\":");
    ASSERT_NE(vertical, std::string::npos);
    EXPECT_NEAR(std::strtod(info.c_str() + vertical + 29, nullptr), 0.6 * 180 / M_PI, 0.01);

    expectIn(info, "{\"kind\":\"light\",\"name\":\"Lamp\",\"id\":5,\"parent\":-1,\"children\":[]");
    expectNear3(numbersAfter(info, "\"name\":\"Lamp\"", "position"), 0, 0, 10);
    // glTF intensities are physical: I / (1 + I) of them reaches the fixed-function light.
    expectIn(info, "\"lightKind\":0,\"colour\":[1,1,1],\"multiplier\":0.5");

    // The embedded picture is written under the name the material gives, into the demo's
    // data/textures/, where the player looks for it.
    expectIn(info, "{\"type\":1,\"slot\":\"diffuse\",\"name\":\"imported_texture0.png\"");
    expectIn(info, "\"shadeModel\":1");
    EXPECT_EQ(readFile(dir + "/data/textures/imported_texture0.png"), readFile(dir + "/halves.png"));

    // The binary container gives the same scene.
    std::string binary;
    const std::string json = animatedGltf(dir, &binary);
    writeFile(dir + "/model/animated.glb", asGlb(json, binary));
    r = runCommand(tool + " import " + dir + "/model/animated.glb " + dir + "/glb/imported.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    CommandResult fromGlb = runCommand(tool + " info --frame 25 " + dir + "/glb/imported.qzg");
    ASSERT_EQ(fromGlb.exitCode, 0) << fromGlb.err;
    EXPECT_EQ(fromGlb.out.substr(fromGlb.out.find('\n')), info.substr(info.find('\n')));
}

// Spot and directional lights aim at dummies placed along their direction; a camera without an
// aspect keeps its vertical angle.
TEST_F(SceneImport, LightKindsAndCameraAngle) {
    writeFile(dir + "/lights.gltf", R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2]}],
"extensionsUsed":["KHR_lights_punctual"],
"extensions":{"KHR_lights_punctual":{"lights":[
  {"type":"spot","spot":{"innerConeAngle":0.2,"outerConeAngle":0.5}},
  {"type":"directional","color":[1,0.5,0.25],"intensity":2}]}},
"nodes":[
 {"name":"Spot","translation":[1,2,3],"extensions":{"KHR_lights_punctual":{"light":0}}},
 {"name":"Sun","translation":[0,5,0],"rotation":[-0.70710678,0,0,0.70710678],
  "extensions":{"KHR_lights_punctual":{"light":1}}},
 {"name":"View","camera":0}],
"cameras":[{"type":"perspective","perspective":{"yfov":0.6,"znear":1}}]})");
    CommandResult r = runCommand(tool + " import " + dir + "/lights.gltf " + dir + "/lights.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCommand(tool + " info " + dir + "/lights.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string& info = r.out;
    // The cone's half angle from the axis, in degrees.
    expectIn(info, "\"lightKind\":1,\"colour\":[1,1,1],\"multiplier\":0.5,\"range\":0,\"coneAngle\":28.64");
    expectNear3(numbersAfter(info, "\"name\":\"Spot\"", "position"), 1, 2, 3);
    expectNear3(numbersAfter(info, "\"name\":\"Spot.Target\"", "position"), 1, 2, -7);
    // Turned to shine down: it stands far above the node and aims at it.
    expectIn(info, "\"lightKind\":3,\"colour\":[1,0.5,0.25],\"multiplier\":0.66666");
    const std::vector<float> sun = numbersAfter(info, "\"name\":\"Sun\"", "position");
    ASSERT_EQ(sun.size(), 3u);
    EXPECT_NEAR(sun[1], 1005, 0.01f);
    EXPECT_NEAR(sun[2], 0, 0.01f);
    expectNear3(numbersAfter(info, "\"name\":\"Sun.Target\"", "position"), 0, 5, 0);
    const size_t vertical = info.find("\"verticalFieldOfViewDegrees\":");
    ASSERT_NE(vertical, std::string::npos);
    EXPECT_NEAR(std::strtod(info.c_str() + vertical + 29, nullptr), 0.6 * 180 / M_PI, 0.01);
}

// The imported scene drawn by the engine: the panel turned by its parent shows the picture's red
// half on the left and the blue half on the right.
TEST_F(SceneImport, TheImportedSceneDrawsItsTextureTheRightWayRound) {
    GLTest::SetUp();
    if (IsSkipped()) return;
    const std::string out = dir + "/data/scenes/drawn.qzg";
    CommandResult r = runCommand(tool + " import --textures " + dir + "/data/textures " + dir +
                                 "/model/animated.gltf " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(exists(dir + "/data/textures/drawn_texture0.png"));

    SceneLoaderQZG::setKeepStoredTexturePaths(false);
    SceneLoaderQZG loader;
    Scene* scene = loader.load(out, dir + "/data/textures/");
    ASSERT_NE(scene, nullptr);
    glViewport(0, 0, 800, 600);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene->applyLightColours();
    scene->setTime(0);
    scene->animate();
    scene->render();
    glFinish();
    std::vector<unsigned char> left = pixel(340, 300), right = pixel(460, 300), corner = pixel(10, 10);
    EXPECT_GT(left[0], 150);
    EXPECT_LT(left[2], 60);
    EXPECT_LT(right[0], 60);
    EXPECT_GT(right[2], 150);
    EXPECT_LT(corner[0] + corner[1] + corner[2], 30);

    // One second later the panel has moved up by one unit (its parent turned the x keys to y):
    // the centre is background, the panel's top part is further up.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene->setTime(100);
    scene->animate();
    scene->render();
    glFinish();
    std::vector<unsigned char> low = pixel(400, 200), high = pixel(340, 420);
    EXPECT_LT(low[0] + low[1] + low[2], 30);
    EXPECT_GT(high[0], 150);
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
}

TEST_F(SceneImport, ObjWithMaterialFile) {
    writeFile(dir + "/obj/sheet.obj", "mtllib sheet.mtl\n"
                                      "o Sheet\n"
                                      "v -1 -1 0\nv 1 -1 0\nv 1 1 0\nv -1 1 0\n"
                                      "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                      "vn 0 0 1\n"
                                      "usemtl Paint\n"
                                      "f 1/1/1 2/2/1 3/3/1 4/4/1\n");
    writeFile(dir + "/obj/sheet.mtl", "newmtl Paint\n"
                                      "Kd 0.2 0.4 0.6\n"
                                      "Ks 0.5 0.5 0.5\n"
                                      "Ns 64\n"
                                      // As written on the modelling machine: only the tail
                                      // of the path travels with the model.
                                      "map_Kd C:\\art\\maps\\wood.png\n"
                                      "map_bump maps/wood_normal.png\n"
                                      "map_d maps/fake.png\n"
                                      "map_Ks missing.png\n");
    writeFile(dir + "/obj/maps/fake.png", "not a picture");
    halvesPng(dir + "/obj/maps");
    std::rename((dir + "/obj/maps/halves.png").c_str(), (dir + "/obj/maps/wood.png").c_str());
    // A grey 16-bit height map: the engine reads 8-bit RGB(A) only, so it must be converted.
    png_image grey{};
    grey.version = PNG_IMAGE_VERSION;
    grey.width = 2, grey.height = 1;
    grey.format = PNG_FORMAT_LINEAR_Y;
    const uint16_t greyPixels[2] = {0, 65535};
    ASSERT_TRUE(png_image_write_to_file(&grey, (dir + "/obj/maps/wood_normal.png").c_str(), 0, greyPixels, 0,
                                        nullptr));

    // Another model's picture of the same name is already there.
    writeFile(dir + "/scenes/wood.png", "another picture");
    const std::string out = dir + "/scenes/sheet.qzg";
    CommandResult r = runCommand(tool + " import " + dir + "/obj/sheet.obj " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.err, "warning: texture wood.png in " + dir + "/scenes is replaced by another picture\n");
    // What does not fit the format is named, and the import still succeeds.
    expectIn(r.err, "warning: material Paint: its normal map is kept as a bump map");
    expectIn(r.err, "warning: material Paint: specular map not carried over");
    expectIn(r.err, "warning: texture maps/fake.png is neither PNG nor JPEG: not carried over");

    r = runCommand(tool + " info " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "\"frameCount\":1");
    expectIn(r.out, "{\"id\":1,\"name\":\"Paint\",\"diffuse\":[0.2,0.4,0.6],\"ambient\":[0.2,0.4,0.6],"
                    "\"specular\":[0.5,0.5,0.5]");
    expectIn(r.out, "\"shininess\":0.5");
    expectIn(r.out, "\"shadeModel\":1");
    expectIn(
        r.out,
        "{\"type\":1,\"slot\":\"diffuse\",\"name\":\"wood.png\",\"lookup\":\"wood.png\",\"applied\":true}");
    expectIn(r.out, "{\"type\":8,\"slot\":\"bump\",\"name\":\"wood_normal.png\"");
    expectIn(r.out, "{\"kind\":\"mesh\",\"name\":\"Sheet\"");
    expectIn(r.out, "\"material\":1,\"vertices\":4,\"faces\":2,\"colours\":0,\"coordinateSets\":[4,0,0]}");
    expectIn(r.out, "\"missingMaterials\":[]");
    EXPECT_EQ(readFile(dir + "/scenes/wood.png"), readFile(dir + "/obj/maps/wood.png"));
    EXPECT_FALSE(exists(dir + "/scenes/fake.png"));
    ImageData* converted = ImageLibrary::instance().loadPNG((dir + "/scenes/wood_normal.png").c_str());
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->bitsPerPixel, 24u);
    ASSERT_EQ(converted->width, 2u);
    EXPECT_EQ(converted->data[0], 0);
    EXPECT_EQ(converted->data[3], 255);
    EXPECT_EQ(converted->data[5], 255);
    freeImage(converted);
    EXPECT_EQ(r.out.find("\"type\":6"), std::string::npos) << r.out;
}

// An FBX (ASCII) scene: a mesh under a turned null, with a phong material colour.
TEST_F(SceneImport, FbxHierarchyAndMaterial) {
    writeFile(dir + "/quad.fbx", R"(; FBX 7.4.0 project file
FBXHeaderExtension:  {
	FBXHeaderVersion: 1003
	FBXVersion: 7400
}
GlobalSettings:  {
	Version: 1000
	Properties70:  {
		P: "UpAxis", "int", "Integer", "",1
		P: "UnitScaleFactor", "double", "Number", "",1
	}
}
Objects:  {
	Geometry: 1000, "Geometry::Quad", "Mesh" {
		Vertices: *12 {
			a: -1,-1,0,1,-1,0,1,1,0,-1,1,0
		}
		PolygonVertexIndex: *4 {
			a: 0,1,2,-4
		}
		GeometryVersion: 124
		LayerElementMaterial: 0 {
			Version: 101
			MappingInformationType: "AllSame"
			ReferenceInformationType: "IndexToDirect"
			Materials: *1 {
				a: 0
			}
		}
		Layer: 0 {
			Version: 100
			LayerElement:  {
				Type: "LayerElementMaterial"
				TypedIndex: 0
			}
		}
	}
	Model: 2000, "Model::Quad", "Mesh" {
		Version: 232
		Properties70:  {
			P: "Lcl Translation", "Lcl Translation", "", "A",1,2,3
		}
	}
	Model: 4000, "Model::Holder", "Null" {
		Version: 232
		Properties70:  {
			P: "Lcl Translation", "Lcl Translation", "", "A",0,0,-2
			P: "Lcl Rotation", "Lcl Rotation", "", "A",0,0,90
		}
	}
	Material: 3000, "Material::Red", "" {
		Version: 102
		ShadingModel: "phong"
		Properties70:  {
			P: "DiffuseColor", "Color", "", "A",1,0,0
		}
	}
}
Connections:  {
	C: "OO",1000,2000
	C: "OO",2000,4000
	C: "OO",4000,0
	C: "OO",3000,2000
}
)");
    CommandResult r = runCommand(tool + " import " + dir + "/quad.fbx " + dir + "/quad.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCommand(tool + " info " + dir + "/quad.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string info = r.out;
    expectIn(info, "{\"id\":1,\"name\":\"Red\",\"diffuse\":[1,0,0]");
    expectIn(info, "{\"kind\":\"dummy\",\"name\":\"Holder\",\"id\":1,\"parent\":-1,\"children\":[\"Quad\"]");
    expectIn(info, "{\"kind\":\"mesh\",\"name\":\"Quad\",\"id\":2,\"parent\":1");
    expectIn(info, "\"material\":1,\"vertices\":4,\"faces\":2");
    // World placement: the null's quarter turn about z carries the child's (1, 2, 3) to (-2, 1, 3).
    expectNear3(numbersAfter(info, "\"name\":\"Quad\"", "position"), -2, 1, 1);
}

// What the format cannot hold is named on stderr; the rest still comes over.
TEST_F(SceneImport, WarnsAboutWhatItCannotCarry) {
    std::string model = animatedGltf(dir);
    auto replace = [&](const std::string& from, const std::string& to) {
        const size_t at = model.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        model.replace(at, from.size(), to);
    };
    replace("\"TEXCOORD_0\":2}",
            "\"TEXCOORD_0\":2,\"TEXCOORD_1\":2,\"TEXCOORD_2\":2},\"targets\":[{\"POSITION\":1}]");
    replace("\"animations\":[{", "\"animations\":[{\"name\":\"Slide\",");
    std::string huge = readFile(dir + "/halves.png");
    for (size_t at : {16, 20})
        huge.replace(at, 4, std::string("\0\0\x75\x30", 4)); // 30000 pixels a side
    replace(base64(readFile(dir + "/halves.png")), base64(huge));
    replace("\"interpolation\":\"LINEAR\"}]}]",
            "\"interpolation\":\"LINEAR\"}]},{\"name\":\"Again\","
            "\"channels\":[{\"sampler\":0,\"target\":{\"node\":0,\"path\":\"translation\"}}],"
            "\"samplers\":[{\"input\":4,\"output\":5}]}]");
    writeFile(dir + "/model/more.gltf", model);
    CommandResult r = runCommand(tool + " import " + dir + "/model/more.gltf " + dir + "/more.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.err, "warning: mesh Panel: 3 texture coordinate sets; only the first two are kept\n");
    expectIn(r.err, "warning: mesh Panel: 1 morph targets not carried over\n");
    expectIn(r.err, "warning: 2 animations; only the first (Slide) is sampled\n");
    // The embedded picture's header claims more than the player takes: said so, not decoded.
    expectIn(r.err, "warning: texture embedded #0 is 30000x30000 pixels; the player takes 1 to 8192 a side: "
                    "not carried over\n");
    EXPECT_EQ(r.err.find(".part"), std::string::npos) << r.err;
    r = runCommand(tool + " info " + dir + "/more.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "\"vertices\":4,\"faces\":2,\"colours\":0,\"coordinateSets\":[4,4,0]}");
    expectIn(r.out, "\"frameCount\":51");
}

TEST_F(SceneImport, BrokenInputsAndTooManyLightsFailClearly) {
    writeFile(dir + "/broken.gltf", "{\"asset\":{\"version\":\"2.0\"},\"meshes\":[{\"primitives\":");
    CommandResult r = runCommand(tool + " import " + dir + "/broken.gltf " + dir + "/broken.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: cannot import " + dir + "/broken.gltf: ");
    EXPECT_FALSE(exists(dir + "/broken.qzg"));

    std::string garbage(300, '\0');
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 37 + 11);
    writeFile(dir + "/garbage.glb", "glTF" + garbage);
    r = runCommand(tool + " import " + dir + "/garbage.glb " + dir + "/garbage.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: cannot import");

    r = runCommand(tool + " import " + dir + "/absent.obj " + dir + "/absent.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: cannot open " + dir + "/absent.obj");

    // Nine point lights: refused as a whole, nothing written.
    std::string nodes, lights;
    for (int i = 0; i < 9; ++i) {
        nodes += std::string(i ? "," : "") + "{\"name\":\"L" + std::to_string(i) +
                 "\",\"extensions\":{\"KHR_lights_punctual\":{\"light\":" + std::to_string(i) + "}}}";
        lights += std::string(i ? "," : "") + "{\"type\":\"point\"}";
    }
    std::string list;
    for (int i = 0; i < 9; ++i)
        list += std::string(i ? "," : "") + std::to_string(i);
    writeFile(dir + "/lights.gltf", "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[" +
                                        list +
                                        "]}],\"extensionsUsed\":[\"KHR_lights_punctual\"],"
                                        "\"extensions\":{\"KHR_lights_punctual\":{\"lights\":[" +
                                        lights + "]}},\"nodes\":[" + nodes + "]}");
    r = runCommand(tool + " import " + dir + "/lights.gltf " + dir + "/lights.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: " + dir + "/lights.gltf: 9 lights; a scene holds at most 8\n");
    EXPECT_FALSE(exists(dir + "/lights.qzg"));
}

TEST_F(SceneImport, UsageErrors) {
    CommandResult r = runCommand(tool + " --help");
    EXPECT_EQ(r.exitCode, 0);
    expectIn(r.out, "holdfast-scene import [--step UNITS] [--textures DIR] [--allow-outside] MODEL OUT.qzg");
    for (const char* args : {" import", " import a.gltf", " import a b c", " import --step 0 a.gltf b.qzg",
                             " import --step x a.gltf b.qzg", " import --bogus a.gltf b.qzg",
                             " import a.gltf b.qzg --step", " info --frame -1 x.qzg"}) {
        r = runCommand(tool + args);
        EXPECT_EQ(r.exitCode, 2) << args;
        expectIn(r.err, "usage: holdfast-scene");
    }
}

namespace {

// A minimal glTF: one triangle whose buffer is the file `bufferUri`.
std::string triangleGltf(const std::string& bufferUri) {
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],
"buffers":[{"byteLength":36,"uri":")" +
           bufferUri + R"("}],"bufferViews":[{"buffer":0,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
}

// An OBJ triangle in `dir`/model.obj whose material A takes the picture `picture` as it is named.
void texturedObj(const std::string& dir, const std::string& picture) {
    writeFile(dir + "/model.obj", "mtllib model.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                  "usemtl A\nf 1/1 2/2 3/3\n");
    writeFile(dir + "/model.mtl", "newmtl A\nmap_Kd " + picture + "\n");
}

bool isFifo(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::string listing = runCommand("ls -A " + dir).out;
    for (size_t at = 0, end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1)
        names.push_back(listing.substr(at, end - at));
    return names;
}

} // namespace

// Files made to crash, stall or exhaust the reader, or that it would refuse without a word, are
// refused with a reason before it reads them.
TEST_F(SceneImport, HostileModelsAreRefusedWithAReason) {
    struct Case {
        std::string name, contents, reason;
    };
    std::string chain;
    for (int i = 0; i < 30000; ++i)
        chain += std::string(i ? "," : "") + "{\"name\":\"n" + std::to_string(i) + "\"" +
                 (i + 1 < 30000 ? ",\"children\":[" + std::to_string(i + 1) + "]" : "") + "}";
    std::string declared4GB = "glTF";
    append<uint32_t>(declared4GB, {2, 0xFFFFFFFFu, 0, 0x4E4F534Au, 0});
    std::string loop = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],
"nodes":[{"name":"a","children":[1]},{"name":"b","children":[0]}]})";
    // Two nodes a level, each a child of both above: the reader would copy the last ones 2^19 times.
    std::string shared;
    for (int level = 0; level < 20; ++level)
        for (int k = 0; k < 2; ++k)
            shared += std::string(shared.empty() ? "" : ",") + "{\"name\":\"L" + std::to_string(level) + "_" +
                      std::to_string(k) + "\"" +
                      (level < 19 ? ",\"children\":[" + std::to_string(2 * level + 2) + "," +
                                        std::to_string(2 * level + 3) + "]"
                                  : "") +
                      "}";
    std::string roots = "0", nodes = "{}", objects;
    for (int i = 0; i < 200000; ++i)
        roots += ",0";
    for (int i = 0; i < 100000; ++i)
        nodes += ",{}";
    for (int i = 0; i <= 100000; ++i)
        objects += "o part" + std::to_string(i) + "\n";
    const std::string gltf = R"({"asset":{"version":"2.0"},)";
    const std::string tree = "; glTF nodes form trees, each node reached once";
    const std::vector<Case> cases = {
        {"arrays.gltf", gltf + "\"extras\":" + std::string(1000000, '[') + std::string(1000000, ']') + "}",
         "JSON nested more than 256 levels deep"},
        {"chain.gltf", gltf + R"("scene":0,"scenes":[{"nodes":[0]}],"nodes":[)" + chain + "]}",
         "node 256 (\"n256\") is nested 257 deep, more than 256"},
        {"loop.gltf", loop, "node 0 (\"a\") is its own ancestor (the node hierarchy has a loop)"},
        {"shared.gltf", gltf + R"("scene":0,"scenes":[{"nodes":[0,1]}],"nodes":[)" + shared + "]}",
         "node 2 (\"L1_0\") is reached twice, as a child of node 0 (\"L0_0\") and of node 1 (\"L0_1\")" +
             tree},
        {"roots.gltf", gltf + R"("scene":0,"scenes":[{"nodes":[)" + roots + R"(]}],"nodes":[{"name":"R"}]})",
         "node 0 (\"R\") is reached twice: scene 0 lists it more than once" + tree},
        {"nodes.gltf", gltf + "\"nodes\":[" + nodes + "]}",
         "more than 100000 nodes; a scene holds at most that many objects"},
        {"number.gltf", gltf + "\"extras\":1" + std::string(1000000, '0') + "}",
         "a number too large for a double (1000001 characters long) at line 1, column 37"},
        {"zero.gltf", gltf + R"("extras":"a\u0000"})",
         "a zero character (\\u0000) in a string at line 1, column 39: the model reader cannot take it"},
        {"declared.glb", declared4GB, "the binary glTF declares 4294967295 bytes but holds 24"},
        {"broken.gltf", "{\"asset\":{\"version\":\"2.0\"},\n\"meshes\":[{\"primitives\":}]}",
         "broken JSON at line 2, column 25: a value expected"},
        {"braces.fbx", "; FBX 7.4.0 project file\n" + std::string(100000, '{'),
         "braces nested more than 256 levels deep (line 2)"},
        {"objects.obj", objects,
         "more than 100000 objects and material changes ('o', 'g' and 'usemtl' statements, line 100001); a "
         "scene holds at most 100000 objects"},
    };
    for (const Case& c : cases) {
        writeFile(dir + "/" + c.name, c.contents);
        CommandResult r = runCommand(tool + " import " + dir + "/" + c.name + " " + dir + "/out.qzg");
        EXPECT_EQ(r.exitCode, 1) << c.name << "\n" << r.err;
        expectIn(r.err, "holdfast-scene: cannot import " + dir + "/" + c.name + ": " + c.reason + "\n");
        EXPECT_FALSE(exists(dir + "/out.qzg")) << c.name;
    }

    // A buffer the model names that is a FIFO would block the read for ever; a material file
    // that is one is left out with a word.
    ASSERT_EQ(::mkfifo((dir + "/buffer.bin").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir + "/fifo.mtl").c_str(), 0600), 0);
    writeFile(dir + "/fifo.gltf", triangleGltf("buffer.bin"));
    CommandResult r = runCommand(tool + " import " + dir + "/fifo.gltf " + dir + "/out.qzg", 20);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    expectIn(r.err, "cannot import " + dir + "/fifo.gltf: " + dir + "/buffer.bin is not a regular file\n");
    writeFile(dir + "/fifo.obj", "mtllib fifo.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n");
    r = runCommand(tool + " import " + dir + "/fifo.obj " + dir + "/out.qzg", 20);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.err, "warning: " + dir + "/fifo.mtl is not a regular file: not read\n");
}

// The scene and its textures appear together or not at all, and never in place of the model or
// of anything that is not a regular file.
TEST_F(SceneImport, OutputsAppearWholeAndReplaceOnlyRegularFiles) {
    const std::string model = dir + "/model/animated.gltf", before = readFile(model);
    CommandResult r = runCommand(tool + " import " + model + " " + model);
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "will not write " + model + ": it is the model itself\n");
    EXPECT_EQ(readFile(model), before);

    // The OBJ's material file is one of the model's files too.
    texturedObj(dir + "/obj", "picture.png");
    halvesPng(dir + "/obj");
    std::rename((dir + "/obj/halves.png").c_str(), (dir + "/obj/picture.png").c_str());
    const std::string material = readFile(dir + "/obj/model.mtl");
    r = runCommand(tool + " import " + dir + "/obj/model.obj " + dir + "/obj/model.mtl");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "will not write " + dir + "/obj/model.mtl: it is one of the model's own files\n");
    EXPECT_EQ(readFile(dir + "/obj/model.mtl"), material);

    // Textures into the model's own folder: its picture stays as it is, and one that would have
    // to be converted in its place is an error.
    const std::string picture = readFile(dir + "/obj/picture.png");
    r = runCommand(tool + " import --textures " + dir + "/obj " + dir + "/obj/model.obj " + dir + "/one.qzg");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir + "/obj/picture.png"), picture);
    png_image deep{};
    deep.version = PNG_IMAGE_VERSION;
    deep.width = 2, deep.height = 1;
    deep.format = PNG_FORMAT_LINEAR_Y;
    const uint16_t greys[2] = {0, 65535};
    ASSERT_TRUE(png_image_write_to_file(&deep, (dir + "/obj/picture.png").c_str(), 0, greys, 0, nullptr));
    const std::string deepPicture = readFile(dir + "/obj/picture.png");
    r = runCommand(tool + " import --textures " + dir + "/obj " + dir + "/obj/model.obj " + dir + "/two.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err,
             "holdfast-scene: texture " + dir +
                 "/obj/picture.png would be converted over one of the model's own files; give --textures "
                 "another folder\n");
    EXPECT_EQ(readFile(dir + "/obj/picture.png"), deepPicture);
    EXPECT_FALSE(exists(dir + "/two.qzg"));

    ASSERT_EQ(::mkfifo((dir + "/fifo.qzg").c_str(), 0600), 0);
    ASSERT_EQ(::symlink((dir + "/elsewhere.qzg").c_str(), (dir + "/link.qzg").c_str()), 0);
    for (const std::string& out : {dir + "/fifo.qzg", dir + "/link.qzg", std::string("/dev/full")}) {
        r = runCommand(tool + " import --textures " + dir + "/textures " + model + " " + out, 20);
        EXPECT_EQ(r.exitCode, 1) << out;
        expectIn(r.err, "will not write " + out + ": it exists and is not a regular file\n");
        EXPECT_FALSE(exists(dir + "/textures")) << out;
    }
    EXPECT_TRUE(isFifo(dir + "/fifo.qzg"));
    EXPECT_FALSE(exists(dir + "/elsewhere.qzg"));

    // The scene cannot be written (its folder is a file): the textures already made go again.
    writeFile(dir + "/plain", "x");
    r = runCommand(tool + " import --textures " + dir + "/textures " + model + " " + dir + "/plain/out.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "cannot write " + dir + "/plain/out.qzg: ");
    EXPECT_EQ(namesIn(dir + "/textures"), std::vector<std::string>{});

    // A texture that cannot be written is an error, and no scene is written without it.
    r = runCommand(tool + " import --textures " + dir + "/plain " + model + " " + dir + "/scenes/out.qzg");
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "holdfast-scene: cannot write texture " + dir + "/plain/out_texture0.png: ");
    EXPECT_FALSE(exists(dir + "/scenes/out.qzg"));
    // Nor does one replace a FIFO of its name.
    ASSERT_EQ(::mkdir((dir + "/scenes").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir + "/scenes/out_texture0.png").c_str(), 0600), 0);
    r = runCommand(tool + " import " + model + " " + dir + "/scenes/out.qzg", 20);
    EXPECT_EQ(r.exitCode, 1);
    expectIn(r.err, "out_texture0.png: it exists and is not a regular file\n");
    EXPECT_TRUE(isFifo(dir + "/scenes/out_texture0.png"));
    EXPECT_EQ(namesIn(dir + "/scenes"), std::vector<std::string>{"out_texture0.png"});
}

// Texture files are looked at before they are read, and only the model's own folder is read
// unless --allow-outside says otherwise; a successful import says what it wrote.
TEST_F(SceneImport, TexturesAreCheckedFirstAndStayInTheModelsFolder) {
    const std::string model = dir + "/m";
    halvesPng(model);
    writeFile(model + "/model.obj", "mtllib model.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
                                    "usemtl Big\nf 1/1 2/2 3/3\nusemtl Up\nf 3/3 2/2 1/1\n"
                                    "usemtl Root\nf 1/1 3/3 2/2\nusemtl Fine\nf 2/2 1/1 3/3\n");
    writeFile(model + "/model.mtl", "newmtl Big\nmap_Kd big.png\nnewmtl Up\nmap_Kd ../secret.png\n"
                                    "newmtl Root\nmap_Kd " +
                                        dir + "/secret.png\nnewmtl Fine\nmap_Kd halves.png\n");
    writeFile(dir + "/secret.png", readFile(model + "/halves.png"));
    // A 4 x 4 picture's header in front of a gigabyte of nothing.
    writeFile(model + "/big.png", readFile(model + "/halves.png"));
    ASSERT_EQ(::truncate((model + "/big.png").c_str(), 1LL << 30), 0);

    CommandResult r = runCommand(tool + " import " + model + "/model.obj " + dir + "/out/model.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.err, "warning: texture big.png holds 1073741824 bytes, more than a 4x4 picture can: not "
                    "carried over\n");
    expectIn(r.err, "warning: texture ../secret.png lies outside the model's folder (" + model +
                        "/../secret.png): not carried over (--allow-outside takes it)\n");
    expectIn(r.err, "warning: texture " + dir + "/secret.png lies outside the model's folder");
    EXPECT_EQ(r.out,
              "holdfast-scene: " + dir +
                  "/out/model.qzg: 4 meshes, 4 triangles, 4 materials, 1 texture, 0 cameras, 0 lights, 1 "
                  "frame, 3 warnings\nholdfast-scene: 1 texture written to " +
                  dir + "/out\n");
    EXPECT_EQ(namesIn(dir + "/out"), (std::vector<std::string>{"halves.png", "model.qzg"}));

    r = runCommand(tool + " import --allow-outside " + model + "/model.obj " + dir + "/out/model.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("outside"), std::string::npos) << r.err;
    // Both names of the picture outside give one copy.
    expectIn(r.out, "2 textures, 0 cameras, 0 lights, 1 frame, 1 warning\n");
    EXPECT_EQ(namesIn(dir + "/out"), (std::vector<std::string>{"halves.png", "model.qzg", "secret.png"}));
}

// An unchanged model imported again replaces its textures by the same pictures: no warning, also
// for a picture converted on the way (a 16-bit PNG becomes 8-bit).
TEST_F(SceneImport, ImportingAnUnchangedModelAgainWarnsOfNothing) {
    png_image deep{};
    deep.version = PNG_IMAGE_VERSION;
    deep.width = 2, deep.height = 2;
    deep.format = PNG_FORMAT_LINEAR_RGB;
    const uint16_t pixels[12] = {65535, 0, 0, 0, 65535, 0, 0, 0, 65535, 30000, 30000, 30000};
    ASSERT_TRUE(::mkdir((dir + "/obj").c_str(), 0755) == 0);
    ASSERT_TRUE(png_image_write_to_file(&deep, (dir + "/obj/deep.png").c_str(), 0, pixels, 0, nullptr));
    texturedObj(dir + "/obj", "deep.png");
    for (int run = 0; run < 2; ++run) {
        CommandResult r = runCommand(tool + " import " + dir + "/obj/model.obj " + dir + "/scenes/model.qzg");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "") << "run " << run;
        EXPECT_EQ(r.out,
                  "holdfast-scene: " + dir +
                      "/scenes/model.qzg: 1 mesh, 1 triangle, 1 material, 1 texture, 0 cameras, 0 lights, "
                      "1 frame, 0 warnings\nholdfast-scene: 1 texture written to " +
                      dir + "/scenes\n");
    }
    ImageData* converted = ImageLibrary::instance().loadPNG((dir + "/scenes/deep.png").c_str());
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(converted->bitsPerPixel, 24u);
    freeImage(converted);
}

namespace {

// Blender's start-up scene as its glTF exporter writes it (y up): a 2 x 2 x 2 cube at the origin
// with a picture on every face (the top half red, the bottom half blue), the camera at
// (7.36, 4.96, 6.93) looking at the cube, and a point light of intensity 3 at (4.08, 5.9, -1.01).
std::string blenderCubeGltf(const std::string& dir) {
    std::string buffer;
    const int axes[6][3] = {{0, 1, 2}, {0, 1, 2}, {1, 2, 0}, {1, 2, 0}, {2, 0, 1}, {2, 0, 1}};
    std::vector<float> positions, normals, uvs;
    std::vector<uint16_t> indices;
    for (int face = 0; face < 6; ++face) {
        const float side = face % 2 ? -1.0f : 1.0f;
        const int n = axes[face][2], u = axes[face][0], v = axes[face][1];
        const uint16_t base = static_cast<uint16_t>(positions.size() / 3);
        const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& c : corners) {
            float p[3], q[3] = {0, 0, 0};
            p[n] = side, p[u] = c[0] * side, p[v] = c[1];
            q[n] = side;
            positions.insert(positions.end(), p, p + 3);
            normals.insert(normals.end(), q, q + 3);
            uvs.insert(uvs.end(), {(c[0] + 1) / 2, (1 - c[1]) / 2});
        }
        indices.insert(indices.end(),
                       {base, static_cast<uint16_t>(base + 1), static_cast<uint16_t>(base + 2), base,
                        static_cast<uint16_t>(base + 2), static_cast<uint16_t>(base + 3)});
    }
    for (float f : positions)
        append<float>(buffer, {f});
    for (float f : normals)
        append<float>(buffer, {f});
    for (float f : uvs)
        append<float>(buffer, {f});
    for (uint16_t i : indices)
        append<uint16_t>(buffer, {i});
    const std::string png = base64(halvesPng(dir));
    return R"({"asset":{"version":"2.0","generator":"Khronos glTF Blender I/O"},"scene":0,
"scenes":[{"nodes":[0,1,2]}],
"extensionsUsed":["KHR_lights_punctual"],
"extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","name":"Light","color":[1,1,1],"intensity":3}]}},
"nodes":[
 {"name":"Cube","mesh":0},
 {"name":"Light","translation":[4.0762,5.9039,-1.0055],"extensions":{"KHR_lights_punctual":{"light":0}}},
 {"name":"Camera","camera":0,"translation":[7.3589,4.9583,6.9258],"rotation":[-0.207554,0.386369,0.08968,0.894202]}],
"cameras":[{"type":"perspective","perspective":{"yfov":0.39959,"aspectRatio":1.77778,"znear":0.1,"zfar":100}}],
"meshes":[{"name":"Cube","primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,"material":0}]}],
"materials":[{"name":"Material","pbrMetallicRoughness":{"baseColorTexture":{"index":0},"metallicFactor":0,"roughnessFactor":0.5}}],
"textures":[{"source":0}],
"images":[{"mimeType":"image/png","uri":"data:image/png;base64,)" +
           png + R"("}],
"buffers":[{"byteLength":840,"uri":"data:application/octet-stream;base64,)" +
           base64(buffer) + R"("}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":288},{"buffer":0,"byteOffset":288,"byteLength":288},
 {"buffer":0,"byteOffset":576,"byteLength":192},{"buffer":0,"byteOffset":768,"byteLength":72}],
"accessors":[
 {"bufferView":0,"componentType":5126,"count":24,"type":"VEC3","min":[-1,-1,-1],"max":[1,1,1]},
 {"bufferView":1,"componentType":5126,"count":24,"type":"VEC3"},
 {"bufferView":2,"componentType":5126,"count":24,"type":"VEC2"},
 {"bufferView":3,"componentType":5123,"count":36,"type":"SCALAR"}]}
)";
}

} // namespace

// The model lit by its default lamp: the faces it reaches are shaded apart (not all washed to
// the picture's full colour) and both halves of the picture show.
TEST_F(SceneImport, ABlenderModelWithItsDefaultLampIsLitNotWashedOut) {
    GLTest::SetUp();
    if (IsSkipped()) return;
    writeFile(dir + "/blender/cube.gltf", blenderCubeGltf(dir));
    const std::string out = dir + "/data/scenes/cube.qzg";
    CommandResult r = runCommand(tool + " import --textures " + dir + "/data/textures " + dir +
                                 "/blender/cube.gltf " + out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.out, "1 mesh, 12 triangles, 1 material, 1 texture, 1 camera, 1 light, 1 frame");

    SceneLoaderQZG::setKeepStoredTexturePaths(false);
    SceneLoaderQZG loader;
    Scene* scene = loader.load(out, dir + "/data/textures/");
    ASSERT_NE(scene, nullptr);
    glViewport(0, 0, 800, 600);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    scene->applyLightColours();
    scene->setTime(0);
    scene->animate();
    scene->render();
    glFinish();
    std::vector<unsigned char> rgba(800 * 600 * 4);
    glReadPixels(0, 0, 800, 600, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);

    // The strength of the red and of the blue half wherever it shows.
    std::vector<int> reds, blues;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        const int red = rgba[i], blue = rgba[i + 2];
        if (red > 20 && red > 3 * blue) reds.push_back(red);
        if (blue > 20 && blue > 3 * red) blues.push_back(blue);
    }
    ASSERT_GT(reds.size(), 2000u);
    ASSERT_GT(blues.size(), 2000u);
    for (std::vector<int>* half : {&reds, &blues}) {
        std::sort(half->begin(), half->end());
        const int dim = (*half)[half->size() / 10], bright = (*half)[half->size() * 9 / 10];
        EXPECT_LT(bright, 250) << "washed out to the picture's full colour";
        EXPECT_GT(bright, 120) << "barely lit";
        EXPECT_GT(bright, dim * 13 / 10) << "the faces are not shaded apart: " << dim << " vs " << bright;
    }
}

// Buffers and material files, like textures, come from the model's folder only: a name that
// leads out of it, or a link inside it that points out, fails the import unless --allow-outside.
TEST_F(SceneImport, BuffersAndMaterialFilesStayInTheModelsFolder) {
    const std::string model = dir + "/a/b/model";
    std::string vertices;
    append<float>(vertices, {0, 0, 0, 1, 0, 0, 1, 1, 0});
    writeFile(dir + "/a/secret.bin", vertices);
    writeFile(dir + "/a/secret.mtl", "newmtl S\nKd 1 0 0\n");
    writeFile(model + "/buffer.gltf", triangleGltf("../../secret.bin"));
    writeFile(model + "/up.obj", "mtllib ../../secret.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl S\nf 1 2 3\n");
    ASSERT_EQ(::symlink("../../secret.mtl", (model + "/link.mtl").c_str()), 0);
    writeFile(model + "/link.obj", "mtllib link.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nusemtl S\nf 1 2 3\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"buffer.gltf", model + "/../../secret.bin"},
        {"up.obj", model + "/../../secret.mtl"},
        {"link.obj", model + "/link.mtl"},
    };
    for (const auto& [file, named] : cases) {
        const std::string out = dir + "/" + file + "/x.qzg";
        CommandResult r = runCommand(tool + " import " + model + "/" + file + " " + out);
        EXPECT_EQ(r.exitCode, 1) << file << "\n" << r.err;
        expectIn(r.err, "holdfast-scene: cannot import " + model + "/" + file + ": " + named +
                            " lies outside the model's folder (it is " + dir + "/a/secret." +
                            (file == "buffer.gltf" ? "bin" : "mtl") +
                            "): not read (--allow-outside reads it)\n");
        EXPECT_FALSE(exists(out)) << file;

        r = runCommand(tool + " import --allow-outside " + model + "/" + file + " " + out);
        EXPECT_EQ(r.exitCode, 0) << file << "\n" << r.err;
        expectIn(r.out, "1 mesh, 1 triangle, 1 material");
    }
    CommandResult r = runCommand(tool + " info " + dir + "/up.obj/x.qzg");
    expectIn(r.out, "{\"id\":1,\"name\":\"S\",\"diffuse\":[1,0,0]");
}

namespace {

// A 2 x 2 panel facing a camera and a lamp, its colour map the picture ring.png beside the model.
std::string panelGltf() {
    std::string buffer;
    append<float>(buffer, {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0});
    append<uint16_t>(buffer, {0, 1, 2, 0, 2, 3});
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1,2]}],
"extensionsUsed":["KHR_lights_punctual"],
"extensions":{"KHR_lights_punctual":{"lights":[{"type":"point","intensity":100}]}},
"nodes":[{"name":"Panel","mesh":0},{"name":"Cam","camera":0,"translation":[0,0,3]},
 {"name":"Lamp","translation":[0,0,3],"extensions":{"KHR_lights_punctual":{"light":0}}}],
"cameras":[{"type":"perspective","perspective":{"yfov":0.8,"znear":0.5,"zfar":100}}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"indices":2,"material":0}]}],
"materials":[{"name":"Ring","pbrMetallicRoughness":{"baseColorTexture":{"index":0}}}],
"textures":[{"source":0}],"images":[{"uri":"ring.png"}],
"buffers":[{"byteLength":92,"uri":"data:application/octet-stream;base64,)" +
           base64(buffer) + R"("}],
"bufferViews":[{"buffer":0,"byteLength":48},{"buffer":0,"byteOffset":48,"byteLength":32},
 {"buffer":0,"byteOffset":80,"byteLength":12}],
"accessors":[{"bufferView":0,"componentType":5126,"count":4,"type":"VEC3","min":[-1,-1,0],"max":[1,1,0]},
 {"bufferView":1,"componentType":5126,"count":4,"type":"VEC2"},
 {"bufferView":2,"componentType":5123,"count":6,"type":"SCALAR"}]})";
}

} // namespace

// A model imported into a demo's data/scenes/ brings its pictures to data/textures/, where the
// player looks: the demo checks clean and draws the model textured. Elsewhere is warned about.
TEST_F(SceneImport, TexturesLandWhereThePlayerLooks) {
    const std::string demo = dir + "/demo";
    writeFile(dir + "/m/ring.gltf", panelGltf());
    halvesPng(dir + "/m");
    std::rename((dir + "/m/halves.png").c_str(), (dir + "/m/ring.png").c_str());
    writeFile(demo + "/data/scripts/demo.scr",
              "__HEADER__\nDEMO_START 0\nDEMO_END 2000\nDEMO_LENGTH 2000\n__DEFS__\nINSERT_EFFECT Scene0\n"
              "__SETUP__\n0 SIGNAL Scene0 Datafile \"data/scenes/x.qzg\"\n__TIMELINE__\n0 BEGIN Scene0\n"
              "0 INIT Scene0\n0 SIGNAL Scene0 Camera 0\n");
    CommandResult r = runCommand(tool + " import " + dir + "/m/ring.gltf " + demo + "/data/scenes/x.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expectIn(r.out, "\nholdfast-scene: 1 texture written to " + demo + "/data/textures\n");
    EXPECT_EQ(namesIn(demo + "/data/scenes"), std::vector<std::string>{"x.qzg"});
    EXPECT_EQ(readFile(demo + "/data/textures/ring.png"), readFile(dir + "/m/ring.png"));

    r = runCommand(binPath("holdfast-script") + " --check " + demo);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    expectIn(r.out, "0 errors, 0 warnings\n");
    if (getenv("DISPLAY") && *getenv("DISPLAY")) {
        const std::string frames = dir + "/frames";
        r = runCommand(
            binPath("holdfast-capture") + " --sparse --data " + demo + " --times 500 --out " + frames, 120);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("Texture not found"), std::string::npos) << r.err;
        const std::string picture = readFile(frames + "/frame_00000500.png");
        ASSERT_FALSE(picture.empty());
        // The picture's red half above, its blue half below.
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_memory(&image, picture.data(), picture.size()));
        image.format = PNG_FORMAT_RGB;
        std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
        const unsigned char* top = &rgb[(200 * 800 + 400) * 3];
        const unsigned char* bottom = &rgb[(450 * 800 + 400) * 3];
        EXPECT_GT(top[0], 150);
        EXPECT_LT(top[2], 60);
        EXPECT_LT(bottom[0], 60);
        EXPECT_GT(bottom[2], 150);
    }

    // Textures sent elsewhere: the scene is written, with a word on where the player looks.
    r = runCommand(tool + " import --textures " + dir + "/elsewhere " + dir + "/m/ring.gltf " + demo +
                   "/data/scenes/y.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "holdfast-scene: warning: the player looks for this scene's textures in " + demo +
                         "/data/textures, not in " + dir +
                         "/elsewhere: it will draw the model without them (leave out --textures)\n");
}

// Many objects of one name are numbered on, skipping names already taken, with the first renames
// warned about one by one; an OBJ's objects come out the same whether its 'o' statements are
// read as they are or, where that makes the same objects, as 'g' statements.
TEST_F(SceneImport, TakenNamesAndObjObjects) {
    std::string nodes = R"({"name":"same.3","mesh":0})", list = "0";
    for (int i = 1; i <= 15; ++i) {
        nodes += R"(,{"name":"same","mesh":0})";
        list += "," + std::to_string(i);
    }
    std::string vertices;
    append<float>(vertices, {0, 0, 0, 1, 0, 0, 1, 1, 0});
    std::string model = triangleGltf("data:application/octet-stream;base64," + base64(vertices));
    const std::string one = R"("scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}])";
    model.replace(model.find(one), one.size(),
                  R"("scenes":[{"nodes":[)" + list + R"(]}],"nodes":[)" + nodes + "]");
    writeFile(dir + "/same.gltf", model);
    CommandResult r = runCommand(tool + " import " + dir + "/same.gltf " + dir + "/same.qzg");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    expectIn(r.err, "warning: object name same is taken; this one is called same.2\n"
                    "holdfast-scene: warning: object name same is taken; this one is called same.4\n");
    expectIn(r.err, "this one is called same.12\n"
                    "holdfast-scene: warning: 4 more objects had a name that was taken and were given a "
                    "number after it\n");
    expectIn(r.out,
             "16 meshes, 16 triangles, 1 material, 0 textures, 0 cameras, 0 lights, 1 frame, 11 warnings");
    r = runCommand(tool + " info " + dir + "/same.qzg");
    expectIn(r.out, "\"name\":\"same.16\"");
    EXPECT_EQ(r.out.find("\"name\":\"same.3\",\"id\":2"), std::string::npos);

    // Objects with several materials, one without; a continued comment line makes the reader
    // take the 'o' statements as they are.
    const std::string objects = "mtllib multi.mtl\no Cube\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvn 0 0 1\n"
                                "usemtl Red\nf 1//1 2//1 3//1\nusemtl Green\nf 1//1 3//1 4//1\n"
                                "o Plane.001\nv 0 0 1\nv 1 0 1\nv 1 1 1\nusemtl Green\nf 5//1 6//1 7//1\n"
                                "o Bare\nv 2 0 1\nv 3 0 1\nv 3 1 1\nf 8 9 10\n";
    writeFile(dir + "/obj/multi.mtl", "newmtl Red\nKd 1 0 0\nnewmtl Green\nKd 0 1 0\n");
    writeFile(dir + "/obj/groups.obj", objects);
    writeFile(dir + "/obj/plain.obj", "# as written \\\n# on two lines\n" + objects);
    std::string info[2];
    for (int i = 0; i < 2; ++i) {
        const std::string name = i ? "plain" : "groups";
        r = runCommand(tool + " import " + dir + "/obj/" + name + ".obj " + dir + "/" + name + ".qzg");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        info[i] = runCommand(tool + " info " + dir + "/" + name + ".qzg").out;
        info[i] = info[i].substr(info[i].find('\n'));
    }
    EXPECT_EQ(info[0], info[1]);
    expectIn(info[0], "\"children\":[\"Cube.Cube\",\"Cube.Green\"]");
    expectIn(info[0], "{\"kind\":\"mesh\",\"name\":\"Plane.001\"");
    expectIn(info[0], "{\"kind\":\"mesh\",\"name\":\"Bare\"");
}
