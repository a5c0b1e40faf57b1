// Fragment programs from data files: the driver's places turned into the file's own lines, and
// what the driver is given for either form of program.
#include "GLTest.h"

#include "platform/GL.h"
#include "resources/ShaderProgram.h"

#include <string>

namespace {

const char* kUv = "void mainImage(out vec4 fragColor, in vec2 fragCoord)\n"
                  "{\n"
                  "    fragColor = vec4(fragCoord / iResolution.xy, Param1, 1.0);\n"
                  "}\n";

} // namespace

TEST(ShaderProgramLog, EveryDriversPlacesBecomeTheFilesLines) {
    const std::string f = "data/shaders/t.frag";
    // Mesa, NVIDIA and AMD, 26 lines added: the driver's line 29 is the file's line 3.
    EXPECT_EQ(shaderprogram::mapLog("0:29(12): error: syntax error, unexpected '}'\n", f, 26),
              f + ":3: error: syntax error, unexpected '}'");
    EXPECT_EQ(shaderprogram::mapLog("0(29) : error C0000: syntax error, unexpected '}'", f, 26),
              f + ":3: error C0000: syntax error, unexpected '}'");
    EXPECT_EQ(shaderprogram::mapLog("ERROR: 0:29: '}' : syntax error\nERROR: 1 compilation errors.", f, 26),
              f + ":3: error: '}' : syntax error\n" + f + ": ERROR: 1 compilation errors.");
    // A place inside the added lines, a message without a place, blank and CRLF lines.
    EXPECT_EQ(shaderprogram::mapLog("0:2(1): error: x\r\n\r\nerror: linking failed\n", f, 26),
              f + ": error: x\n" + f + ": error: linking failed");
    // A program taken as it is keeps the driver's lines.
    EXPECT_EQ(shaderprogram::mapLog("0:7(3): warning: y", f, 0), f + ":7: warning: y");
}

TEST(ShaderProgramSource, ShadertoysFormIsWrappedAndAPlainProgramIsNot) {
    const shaderprogram::Source wrapped = shaderprogram::fragmentSource(std::string("\xEF\xBB\xBF") + kUv);
    EXPECT_TRUE(wrapped.wrapped);
    EXPECT_EQ(wrapped.text.compare(0, 9, "#version "), 0);
    // The file starts on the line after the added ones.
    int newlines = 0;
    size_t at = 0;
    while (newlines < wrapped.addedLines && (at = wrapped.text.find('\n', at) + 1) != 0)
        ++newlines;
    EXPECT_EQ(wrapped.text.compare(at, 15, "void mainImage("), 0);

    const std::string plain = "#version 120\n// not mainImage(\nvoid main() { gl_FragColor = vec4(1.0); }\n";
    const shaderprogram::Source own = shaderprogram::fragmentSource(plain);
    EXPECT_FALSE(own.wrapped);
    EXPECT_EQ(own.text, plain);
    EXPECT_EQ(own.addedLines, 0);
    EXPECT_FALSE(shaderprogram::fragmentSource("/* void main() */ float f(float x) { return x; }").hasEntry);
}

class ShaderProgramBuild : public GLTest {};

TEST_F(ShaderProgramBuild, TheDriverSaysWhereInTheFile) {
    shaderprogram::Build ok = shaderprogram::build("uv.frag", kUv);
    EXPECT_EQ(ok.problem, shaderprogram::Build::Problem::None) << ok.error;
    EXPECT_NE(ok.program, 0u);
    EXPECT_GE(glGetUniformLocation(ok.program, "Param1"), 0);
    glDeleteProgram(ok.program);

    std::string broken = kUv;
    broken.replace(broken.find("iResolution.xy,"), 15, "iResolution.xy");
    shaderprogram::Build refused = shaderprogram::build("data/shaders/bad.frag", broken);
    EXPECT_EQ(refused.problem, shaderprogram::Build::Problem::Refused);
    EXPECT_EQ(refused.program, 0u);
    EXPECT_EQ(refused.error.compare(0, 29, "data/shaders/bad.frag:3: erro"), 0) << refused.error;

    // A plain program, its own uniforms; an error on its line 2 stays line 2.
    shaderprogram::Build plain = shaderprogram::build(
        "p.frag", "#version 130\nuniform float Param2;\nvoid main() { gl_FragColor = vec4(Param2); }\n");
    EXPECT_EQ(plain.problem, shaderprogram::Build::Problem::None) << plain.error;
    glDeleteProgram(plain.program);
    plain = shaderprogram::build("p.frag", "#version 130\nvoid main() { gl_FragColor = vec4(nothing); }\n");
    EXPECT_EQ(plain.error.compare(0, 9, "p.frag:2:"), 0) << plain.error;

    // No entry point; a missing file; a file too long to hand over.
    EXPECT_NE(shaderprogram::build("n.frag", "float f;\n").error.find("no mainImage"), std::string::npos);
    const std::string dir = makeTempDir();
    EXPECT_EQ(shaderprogram::load(dir + "/gone.frag").problem, shaderprogram::Build::Problem::Missing);
    writeFile(dir + "/long.frag", std::string(64 * 1024 + 1, ' '));
    const shaderprogram::Build tooLong = shaderprogram::load(dir + "/long.frag");
    EXPECT_EQ(tooLong.problem, shaderprogram::Build::Problem::TooLong);
    EXPECT_NE(tooLong.error.find("65537 bytes, more than 65536"), std::string::npos) << tooLong.error;
}
