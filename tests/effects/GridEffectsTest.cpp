// The grid effects: the mesh's arrays, every animation formula against reference values computed
// apart from the program, the picture they carry, and how the formula switch resets the grid.
#include "GLTest.h"

#include "base/RunState.h"
#include "demo/DemoState.h"
#include "demo/EffectList.h"
#include "effects/Clear.h"
#include "effects/EffectFactory.h"
#include "effects/GridExp.h"
#include "effects/GridExp2.h"
#include "effects/GridMesh.h"
#include "platform/GL.h"

#include <cmath>
#include <memory>

namespace {

constexpr float kKeep = NAN; // the formula leaves that part alone

// One vertex after a formula: position, texture coordinate, grey level and alpha of its colour.
struct Reference {
    int anim;
    float phase;
    int row;
    int column;
    float level; // the signal level
    float expected[7];
};

const Reference kGridExp[] = {
    {0, 40.0f, 10, 20, 0.0f, {-1.432613, -6.059599, -1.240445, -0.04591837, -0.2071429, 0.3797773, 1}},
    {0, 40.0f, 47, 3, 0.0f, {-8.050373, 9.387852, 2.805726, -0.2193878, 0.3214286, 2.402863, 1}},
    {1, 100.0f, 10, 20, 0.0f, {-1.836735, -5.918367, -58.29518, -0.04591837, -0.2071429, 5.829518, 1}},
    {1, 800.0f, 30, 12, 0.0f, {-5.102041, 2.244898, -1.732528, -0.127551, 0.07857143, 0.1732528, 1}},
    {2, 40.0f, 10, 20, 0.0f, {-1.877245, -6.000023, -0.2358211, -0.04591837, -0.2071429, 0.8820895, 1}},
    {2, 40.0f, 33, 41, 0.0f, {7.129252, 3.492481, -2.479117, 0.1683673, 0.1214286, -0.2395587, 1}},
    {3, 40.0f, 10, 20, 0.25f, {-1.836735, -5.918367, 0, -0.1066844, -0.08451684, kKeep, kKeep}},
    {3, 40.0f, 5, 44, 0.25f, {7.959184, -7.959184, 0, 0.7765596, -0.1398556, kKeep, kKeep}},
    {4, 4.0f, 10, 20, 0.0f, {-1.836735, -5.918367, 0.1298925, -0.04591837, -0.2071429, 1, 1}},
    {4, 4.0f, 48, 48, 0.0f, {9.591837, 9.591837, -0.05095436, 0.2397959, 0.3357143, 1, 1}},
};

struct Reference2 {
    int anim;
    float phase;
    int row;
    int column;
    bool reverse;
    float expected[7];
};

const Reference2 kGridExp2[] = {
    {1, 40.0f, 10, 20, false, {-0.06976744, -0.5348837, 0, 0.1293868, 0.6586322, 2.188218, 0.8}},
    {1, 40.0f, 30, 5, false, {-0.7674419, 0.3953488, 0, 0.5527204, -0.2089772, 9.817038, 0.8}},
    {2, 40.0f, 10, 20, false, {-0.06976744, -0.5348837, 0, -0.04114438, -0.3154402, 1, 1}},
    {2, 40.0f, 21, 22, false, {0.02325581, -0.02325581, 0, 0.01269866, -0.01269866, 1, 1}},
    {3, 40.0f, 10, 20, false, {-0.06976744, -0.5348837, 0, 0.3800021, 0.2466825, 213.3033, 0.8}},
    {3, 40.0f, 40, 3, false, {-0.8604651, 0.8604651, 0, 27.32949, -26.52949, 0.1347075, 0.8}},
    {4, 40.0f, 10, 20, false, {-0.06976744, -0.5348837, 0, 0.9850461, 6.885353, 0.08935196, 0.8}},
    {4, 40.0f, 10, 20, true, {-0.06976744, -0.5348837, 0, 0.7850461, 6.685353, 0.08935196, 0.8}},
};

void expectVertex(const GridMesh& grid, int row, int column, const float* expected, const std::string& what) {
    const float* v = grid.vertex(row, column);
    const float got[7] = {v[GridMesh::kPosition],  v[GridMesh::kPosition + 1], v[GridMesh::kPosition + 2],
                          v[GridMesh::kTexCoord],  v[GridMesh::kTexCoord + 1], v[GridMesh::kColour],
                          v[GridMesh::kColour + 3]};
    static const char* parts[7] = {"x", "y", "z", "s", "t", "grey", "alpha"};
    for (int p = 0; p < 7; ++p) {
        if (std::isnan(expected[p])) continue;
        EXPECT_NEAR(got[p], expected[p], 1e-3f * std::max(1.0f, std::fabs(expected[p])))
            << what << " " << parts[p];
    }
    EXPECT_EQ(v[GridMesh::kColour], v[GridMesh::kColour + 1]) << what;
    EXPECT_EQ(v[GridMesh::kColour], v[GridMesh::kColour + 2]) << what;
}

// True when the vertex's current position and texture coordinate are its base ones.
bool atBase(const GridMesh& grid, int row, int column) {
    const float* v = grid.vertex(row, column);
    return v[GridMesh::kPosition] == v[GridMesh::kBasePosition] &&
           v[GridMesh::kPosition + 1] == v[GridMesh::kBasePosition + 1] &&
           v[GridMesh::kPosition + 2] == v[GridMesh::kBasePosition + 2] &&
           v[GridMesh::kTexCoord] == v[GridMesh::kBaseTexCoord] &&
           v[GridMesh::kTexCoord + 1] == v[GridMesh::kBaseTexCoord + 1];
}

class Grids : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        screenWidth = 800;
        screenHeight = 600;
        glDrawBuffer(GL_BACK);
        glDisable(GL_BLEND);
        glEnable(GL_DEPTH_TEST);
        glColor4f(1, 1, 1, 1);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
};

} // namespace

TEST(GridMeshArrays, VerticesAndIndicesOfTheTwoGrids) {
    GridMesh grid(50, 20, 20, 0, 0, 0.5f, 0.7f);
    ASSERT_EQ(grid.vertexData().size(), 50u * 50u * 14u);
    const float* first = grid.vertex(0, 0);
    const float expectFirst[14] = {-10, -10, 0, -10, -10, 0, -0.25f, -0.35f, -0.25f, -0.35f, 1, 1, 1, 1};
    for (int f = 0; f < 14; ++f)
        EXPECT_FLOAT_EQ(first[f], expectFirst[f]) << f;
    const float* up = grid.vertex(1, 0); // the next row is one step up
    EXPECT_FLOAT_EQ(up[1], -10 + 20.0f / 49);
    EXPECT_FLOAT_EQ(up[7], -0.35f + 0.7f / 49);
    const float* last = grid.vertex(49, 49);
    EXPECT_FLOAT_EQ(last[0], 10);
    EXPECT_FLOAT_EQ(last[1], 10);
    EXPECT_FLOAT_EQ(last[6], 0.25f);
    EXPECT_FLOAT_EQ(last[7], 0.35f);
    EXPECT_EQ(&grid.vertex(2, 3)[0] - &grid.vertexData()[0], (2 * 50 + 3) * 14);

    const auto& triangles = grid.triangleIndices();
    ASSERT_EQ(triangles.size(), 6u * 49u * 49u);
    EXPECT_EQ(std::vector<uint16_t>(triangles.begin(), triangles.begin() + 12),
              (std::vector<uint16_t>{0, 1, 50, 1, 51, 50, 1, 2, 51, 2, 52, 51}));
    EXPECT_EQ(std::vector<uint16_t>(triangles.end() - 6, triangles.end()),
              (std::vector<uint16_t>{2448, 2449, 2498, 2449, 2499, 2498}));
    const auto& strips = grid.stripIndices();
    ASSERT_EQ(strips.size(), 49u * 100u);
    EXPECT_EQ(std::vector<uint16_t>(strips.begin(), strips.begin() + 6),
              (std::vector<uint16_t>{0, 50, 1, 51, 2, 52}));
    EXPECT_EQ(strips[100], 50); // the second band starts one row up
    EXPECT_EQ(strips[101], 100);
    EXPECT_EQ(strips.back(), 2499);
    EXPECT_EQ(grid.stripLength(), 98); // the band's last column of cells is left out

    GridMesh small(44, 2, 2, 0, 0, 1, 1);
    EXPECT_EQ(small.triangleIndices().size(), 6u * 43u * 43u);
    EXPECT_FLOAT_EQ(small.vertex(43, 0)[1], 1);
    EXPECT_FLOAT_EQ(small.vertex(0, 43)[6], 0.5f);

    // Reset takes the current values back to the base ones, and only those.
    float* v = grid.vertex(5, 6);
    v[GridMesh::kPosition + 2] = 3;
    v[GridMesh::kTexCoord] = 7;
    v[GridMesh::kColour] = 0.25f;
    grid.reset();
    EXPECT_TRUE(atBase(grid, 5, 6));
    EXPECT_EQ(v[GridMesh::kColour], 0.25f);
}

TEST_F(Grids, FactoryMakesThemWithTheirVariablesAndDefaults) {
    const std::vector<std::string> own = {"Red",    "Green",  "Blue",   "Alpha",  "Anim",  "Rotate",
                                          "Blend",  "Shade",  "ampX",   "ampY",   "ampZ",  "magicStrength",
                                          "magic1", "magic2", "magic3", "magic4", "magic5"};
    for (const char* name : {"GridExp", "GridExp2"}) {
        std::unique_ptr<Effect> effect(createBuiltInEffect(name));
        ASSERT_TRUE(effect) << name;
        EXPECT_EQ(effect->name, name);
        std::vector<std::string> names;
        for (const Variable* v : effect->variables)
            names.push_back(v->name);
        std::vector<std::string> expected = {"Speed", "SpectrumStr", "Pattern"};
        expected.insert(expected.end(), own.begin(), own.end());
        EXPECT_EQ(names, expected) << name;
        EXPECT_FLOAT_EQ(effect->speed.value, 0.1f) << name;
        auto& grid = static_cast<GridEffect&>(*effect);
        EXPECT_EQ(grid.anim.value, 4);
        EXPECT_FALSE(grid.rotate.value);
        EXPECT_TRUE(grid.blend.value);
        EXPECT_FALSE(grid.shade.value);
        EXPECT_FLOAT_EQ(grid.magic3.value, std::string(name) == "GridExp" ? 0.4f : 0.5f);
        EXPECT_EQ(grid.findVariable("Anim")->kind, KindInt);
        // The picture's target comes with the first link.
        EXPECT_FALSE(grid.pbuffer.isInitialized());
    }
    std::unique_ptr<Effect> osc(createBuiltInEffect("Osc"));
    std::unique_ptr<Effect> spectrum(createBuiltInEffect("Spectrum"));
    EXPECT_EQ(osc->name, "Osc");
    EXPECT_EQ(spectrum->name, "Spectrum");

    // The aspect is the screen's in whole numbers.
    EXPECT_EQ(gridAspect(), 1);
    screenWidth = 1024;
    screenHeight = 768;
    EXPECT_EQ(gridAspect(), 1);
    screenHeight = 0;
    EXPECT_EQ(gridAspect(), 1);
    screenWidth = 800;
    screenHeight = 600;
}

TEST_F(Grids, GridExpFormulasMatchTheirReferenceValues) {
    for (const Reference& r : kGridExp) {
        GridExp effect;
        effect.phase = r.phase;
        effect.signalLevel = r.level;
        effect.animate(r.anim, 0);
        const std::string what = "anim " + std::to_string(r.anim) + " vertex " + std::to_string(r.row) + "," +
                                 std::to_string(r.column);
        expectVertex(effect.grid, r.row, r.column, r.expected, what);
        // The border keeps its values: the formulas leave the outer ring (and the waves one more).
        const int inner = r.anim == 4 ? 48 : 47;
        EXPECT_TRUE(atBase(effect.grid, 0, 10)) << what;
        EXPECT_TRUE(atBase(effect.grid, 10, 0)) << what;
        EXPECT_TRUE(atBase(effect.grid, inner + 1, 10)) << what;
        EXPECT_TRUE(atBase(effect.grid, 10, inner + 1)) << what;
        if (r.anim != 3) {
            EXPECT_FALSE(atBase(effect.grid, inner, 10)) << what;
        }
    }
    // A value without a formula leaves the grid as it is.
    GridExp effect;
    effect.phase = 40;
    effect.animate(5, 0);
    effect.animate(-1, 0);
    for (int row = 0; row < 50; row += 7)
        EXPECT_TRUE(atBase(effect.grid, row, row));
}

TEST_F(Grids, GridExp2FormulasMatchTheirReferenceValuesAndStayFinite) {
    for (const Reference2& r : kGridExp2) {
        GridExp2 effect;
        effect.phase = r.phase;
        effect.alpha.value = 0.8f;
        effect.reverse = r.reverse;
        effect.animate(r.anim, 0);
        const std::string what = "anim " + std::to_string(r.anim) + " vertex " + std::to_string(r.row) + "," +
                                 std::to_string(r.column);
        expectVertex(effect.grid, r.row, r.column, r.expected, what);
        EXPECT_TRUE(atBase(effect.grid, 0, 5)) << what;
        EXPECT_TRUE(atBase(effect.grid, 43, 5)) << what;
        EXPECT_TRUE(atBase(effect.grid, 5, 43)) << what;
    }
    GridExp2 effect;
    effect.phase = 40;
    for (int anim : {0, 5}) {
        effect.animate(anim, 0);
        EXPECT_TRUE(atBase(effect.grid, 20, 20));
    }

    // A tunnel radius that passes exactly through a vertex: its texture coordinate stays finite.
    const float* v = effect.grid.vertex(30, 12);
    effect.magic1.value = std::sqrt(v[GridMesh::kBasePosition] * v[GridMesh::kBasePosition] +
                                    v[GridMesh::kBasePosition + 1] * v[GridMesh::kBasePosition + 1]);
    effect.animate(4, 0);
    for (float f : effect.grid.vertexData())
        ASSERT_TRUE(std::isfinite(f));
    EXPECT_GT(std::fabs(v[GridMesh::kTexCoord]), 10.0f); // still far out, as the tunnel's rim is

    // Signals 29 and 38.
    Signal s;
    s.type = 29;
    s.value = 1.5f;
    effect.signal(s);
    EXPECT_EQ(effect.alpha.value, 1.5f); // stored as it is
    s.type = 38;
    s.value = 1;
    effect.signal(s);
    EXPECT_TRUE(effect.reverse);
    s.value = 0;
    effect.signal(s);
    EXPECT_FALSE(effect.reverse);
}

TEST_F(Grids, AKeyedAnimSwitchResetsTheGrid) {
    GridExp effect;
    trackEndTime = 10000;
    effect.anim.addKey(0.0f, 0);    // waves first ...
    effect.anim.addKey(3.0f, 1000); // ... then only the texture warps
    trackEndTime = 0;
    effect.start(0);
    effect.update(500);
    effect.render(500);
    EXPECT_FALSE(atBase(effect.grid, 10, 10));
    ASSERT_FALSE(effect.anim.changed); // a keyed value does not raise it again
    effect.update(1500);
    effect.render(1500);
    // The waves' positions are gone; the warp moved only the texture.
    const float* v = effect.grid.vertex(10, 10);
    EXPECT_EQ(v[GridMesh::kPosition], v[GridMesh::kBasePosition]);
    EXPECT_EQ(v[GridMesh::kPosition + 1], v[GridMesh::kBasePosition + 1]);
    EXPECT_EQ(v[GridMesh::kPosition + 2], 0.0f);
    EXPECT_NE(v[GridMesh::kTexCoord], v[GridMesh::kBaseTexCoord]);
    EXPECT_EQ(effect.appliedAnim, 3);
}

TEST_F(Grids, AUniformLinkedPictureShowsItsColourInTheMiddle) {
    EffectList list;
    effectList = &list;
    list.createEffect("Clear");
    list.createEffect("GridExp2");
    auto& clear = static_cast<Clear&>(*list.findEffect("Clear"));
    clear.red.value = 0.2f;
    clear.green.value = 0.4f;
    clear.blue.value = 0.6f;
    auto& grid = static_cast<GridExp2&>(*list.findEffect("GridExp2"));
    Signal link;
    link.type = 2;
    link.text = "Clear";
    grid.signal(link);
    ASSERT_EQ(grid.linked, &clear);
    grid.anim.value = 2; // the lens: every vertex white, the picture as it is
    grid.start(0);
    EXPECT_EQ(grid.pbuffer.getWidth(), 512);
    grid.update(1000);
    grid.render(1000);
    std::vector<unsigned char> c = pixel(400, 300);
    EXPECT_NEAR(c[0], 51, 3);
    EXPECT_NEAR(c[1], 102, 3);
    EXPECT_NEAR(c[2], 153, 3);
    EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE)); // as it found it

    // The grid colour tints the picture and adds to what is there.
    grid.red.value = 0.5f;
    grid.render(1000);
    c = pixel(400, 300);
    EXPECT_NEAR(c[0], 51 + 26, 3);
    EXPECT_NEAR(c[1], 204, 3);
    list.clearEffects();
    effectList = nullptr;
}

TEST_F(Grids, WithoutAPictureTheGridIsDrawnInItsColourEvenWithTexturingLeftOn) {
    // A texture of another effect left bound and enabled must not show through.
    GLuint stray = 0;
    glGenTextures(1, &stray);
    glBindTexture(GL_TEXTURE_2D, stray);
    const unsigned char black[4] = {0, 0, 0, 255};
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, black);
    glEnable(GL_TEXTURE_2D);

    GridExp effect;
    effect.red.value = 1.0f;
    effect.green.value = 0.0f;
    effect.blue.value = 0.5f;
    effect.blend.value = false;
    effect.update(0);
    effect.render(0);
    std::vector<unsigned char> c = pixel(400, 300);
    EXPECT_EQ(c[0], 255);
    EXPECT_EQ(c[1], 0);
    EXPECT_NEAR(c[2], 128, 1);

    // With Shade the per-vertex colours of the formula replace the grid colour: the ripple's white.
    effect.shade.value = true;
    effect.update(0);
    effect.render(0);
    c = pixel(400, 300);
    EXPECT_EQ(c[0], 255);
    EXPECT_EQ(c[1], 255);
    glDeleteTextures(1, &stray);
}

TEST_F(Grids, GridsThatAreTheirOwnPictureDoNotDrawThemselvesWithoutEnd) {
    EffectList list;
    effectList = &list;
    list.createEffect("GridExp");
    list.createEffect("GridExp2");
    Effect& first = *list.findEffect("GridExp");
    Effect& second = *list.findEffect("GridExp2");
    // Set directly: the link signal itself refuses links that loop back.
    first.linked = &second;
    second.linked = &first;
    for (int t : {0, 40}) {
        Signal start;
        start.time = t;
        first.signal(start);
        first.update(t);
        first.render(t);
        second.update(t);
        second.render(t);
    }
    first.linked = &first;
    first.start(100);
    first.update(100);
    first.render(100);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    list.clearEffects();
    effectList = nullptr;
}
