// Shader1..4 drawn directly: a program reloaded in place (what the preview does on a save), its
// blending, and the GL state it leaves for the effects after it.
#include "GLTest.h"

#include "effects/EffectFactory.h"
#include "effects/ShaderEffect.h"
#include "platform/GL.h"

#include <filesystem>
#include <memory>
#include <string>

namespace {

std::string colourProgram(const char* colour) {
    return std::string("void mainImage(out vec4 fragColor, in vec2 fragCoord)\n{\n    fragColor = ") +
           colour + ";\n}\n";
}

class ShaderEffectDrawn : public GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (IsSkipped()) return;
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }
    std::vector<unsigned char> drawn(ShaderEffect& effect, int time) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        effect.update(time);
        effect.render(time);
        return pixel(400, 300);
    }
};

} // namespace

TEST_F(ShaderEffectDrawn, AReloadTakesAGoodProgramAndKeepsTheLastGoodOneOtherwise) {
    const std::string file = makeTempDir() + "/data/shaders/look.frag";
    writeFile(file, colourProgram("vec4(1.0, 0.0, 0.0, 1.0)"));
    std::unique_ptr<Effect> made(createBuiltInEffect("Shader3"));
    auto* effect = dynamic_cast<ShaderEffect*>(made.get());
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->name, "Shader3");
    effect->addListItem(0, file);
    ASSERT_TRUE(effect->hasProgram());
    EXPECT_EQ(effect->programFile(), file);
    EXPECT_EQ(drawn(*effect, 1000), (std::vector<unsigned char>{255, 0, 0, 255}));

    // A broken save: the error names the file's line, the red program goes on drawing.
    writeFile(file, colourProgram("vec4(0.0, 1.0, 0.0 1.0)"));
    const std::string error = effect->reloadProgram();
    EXPECT_EQ(error.compare(0, file.size() + 4, file + ":3: "), 0) << error;
    EXPECT_EQ(drawn(*effect, 1020), (std::vector<unsigned char>{255, 0, 0, 255}));

    // Mended: the next frame draws the new program. Gone: the last good one stays.
    writeFile(file, colourProgram("vec4(0.0, 1.0, 0.0, 1.0)"));
    EXPECT_EQ(effect->reloadProgram(), "");
    EXPECT_EQ(drawn(*effect, 1040), (std::vector<unsigned char>{0, 255, 0, 255}));
    std::filesystem::remove(file);
    EXPECT_EQ(effect->reloadProgram(), file + ": cannot be read");
    EXPECT_EQ(drawn(*effect, 1060), (std::vector<unsigned char>{0, 255, 0, 255}));

    // Added at Alpha 0.5 over the blue clear, then blended over it; the state is as it was.
    effect->blendAdd.value = true;
    effect->alpha.value = 0.5f;
    const std::vector<unsigned char> added = drawn(*effect, 1080);
    EXPECT_NEAR(added[1], 128, 1);
    EXPECT_EQ(added[2], 255);
    effect->blendAdd.value = false;
    effect->blendMultiply.value = true;
    const std::vector<unsigned char> over = drawn(*effect, 1100);
    EXPECT_NEAR(over[1], 128, 1);
    EXPECT_NEAR(over[2], 128, 1);
    GLint program = -1, unit = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
    EXPECT_EQ(program, 0);
    EXPECT_EQ(unit, GL_TEXTURE0);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_EQ(glstate::firstDifference(), nullptr);
}
