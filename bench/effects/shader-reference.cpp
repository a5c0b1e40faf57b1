// shader-reference: bench/effects/Shader.scr written directly against SDL and the GL, as a
// yardstick for the engine's shader effect.
//   shader-reference --program FILE [--frames N] [--warmup N]
// FILE is turned into the same GLSL the effect compiles (the engine's text wrapping, nothing else of
// it). Per frame on the 800 x 600 window: the clear; the program bound; every input it reads set
// (times, resolution, parameters, the level); its channels bound (the 512 x 2 audio texture filled
// anew, a mipmapped picture); one quad over the window; glFinish. Prints the same line as
// effect-bench.
#include <GL/glew.h>
#include <GL/glu.h>
#include <SDL.h>

#include "ReferenceGL.h"
#include "resources/ShaderProgram.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace reference;

int main(int argc, char** argv) {
    long frames = 100, warmup = 5;
    std::string programPath;
    const char* usage = "usage: shader-reference --program FILE [--frames N] [--warmup N]\n";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            printf("shader-reference --program FILE [--frames N] [--warmup N]\n  the Shader bench's pass in "
                   "plain GL\n");
            return 0;
        }
        if (arg == "--version") {
            printf("shader-reference %s\n", HOLDFAST_VERSION);
            return 0;
        }
        if (arg == "--program" && i + 1 < argc) {
            programPath = argv[++i];
            continue;
        }
        if ((arg == "--frames" || arg == "--warmup") && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v < 0) {
                fprintf(stderr, "%s", usage);
                return 2;
            }
            (arg == "--frames" ? frames : warmup) = v;
            continue;
        }
        fprintf(stderr, "%s", usage);
        return 2;
    }
    if (programPath.empty()) {
        fprintf(stderr, "%s", usage);
        return 2;
    }
    std::ifstream file(programPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    if (!file || text.str().empty()) {
        fprintf(stderr, "shader-reference: cannot read %s\n", programPath.c_str());
        return 1;
    }
    const std::string source = shaderprogram::fragmentSource(text.str()).text;

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "shader-reference: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window =
        SDL_CreateWindow("shader-reference", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        fprintf(stderr, "shader-reference: %s\n", SDL_GetError());
        return 1;
    }
    glewExperimental = GL_TRUE;
    glewInit();
    glGetError();

    const GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    const GLchar* sourceText = source.c_str();
    glShaderSource(shader, 1, &sourceText, nullptr);
    glCompileShader(shader);
    const GLuint program = glCreateProgram();
    glAttachShader(program, shader);
    glLinkProgram(program);
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        fprintf(stderr, "shader-reference: %s does not build\n", programPath.c_str());
        return 1;
    }
    auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
    const GLint resolution = at("iResolution"), time = at("iTime"), delta = at("iTimeDelta"),
                frameRate = at("iFrameRate"), frame = at("iFrame"), channelTime = at("iChannelTime"),
                channelResolution = at("iChannelResolution"), date = at("iDate"),
                sampleRate = at("iSampleRate"), demoTime = at("iDemoTime"), beat = at("iBeat");
    GLint params[8];
    for (int i = 0; i < 8; ++i)
        params[i] = at(("Param" + std::to_string(i + 1)).c_str());
    GLint channels[4];
    glUseProgram(program);
    for (int i = 0; i < 4; ++i) {
        channels[i] = at(("iChannel" + std::to_string(i)).c_str());
        if (channels[i] >= 0) glUniform1i(channels[i], i);
    }
    glUseProgram(0);

    // The audio texture and a 256 x 256 mipmapped picture for the other channels.
    GLuint audio = 0, picture = 0;
    std::vector<unsigned char> audioTexels(1024, 128);
    glGenTextures(1, &audio);
    glBindTexture(GL_TEXTURE_2D, audio);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_R8, 512, 2, 0, GL_RED, GL_UNSIGNED_BYTE, audioTexels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    std::vector<unsigned char> texels(256 * 256 * 4);
    for (size_t i = 0; i < texels.size(); ++i)
        texels[i] = static_cast<unsigned char>(i * 7);
    glGenTextures(1, &picture);
    glBindTexture(GL_TEXTURE_2D, picture);
    gluBuild2DMipmaps(GL_TEXTURE_2D, 4, 256, 256, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glBindTexture(GL_TEXTURE_2D, 0);

    long index = 0;
    auto draw = [&]() {
        const float t = static_cast<float>(index++) * 0.02f;
        glViewport(0, 0, 800, 600);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glUseProgram(program);
        if (resolution >= 0) glUniform3f(resolution, 800.0f, 600.0f, 1.0f);
        if (time >= 0) glUniform1f(time, t);
        if (delta >= 0) glUniform1f(delta, 0.02f);
        if (frameRate >= 0) glUniform1f(frameRate, 50.0f);
        if (frame >= 0) glUniform1i(frame, static_cast<GLint>(index));
        if (channelTime >= 0) {
            const float times[4] = {t, t, t, t};
            glUniform1fv(channelTime, 4, times);
        }
        if (date >= 0) glUniform4f(date, 2026, 11, 10, t);
        if (sampleRate >= 0) glUniform1f(sampleRate, 44100.0f);
        if (demoTime >= 0) glUniform1f(demoTime, t);
        if (beat >= 0) glUniform1f(beat, 0.5f);
        for (int i = 0; i < 8; ++i)
            if (params[i] >= 0) glUniform1f(params[i], 0.5f);
        for (int i = 3; i >= 0; --i) {
            if (channels[i] < 0) continue;
            glActiveTexture(GL_TEXTURE0 + i);
            if (i == 1) {
                glBindTexture(GL_TEXTURE_2D, audio);
                glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 512, 2, GL_RED, GL_UNSIGNED_BYTE, audioTexels.data());
            } else {
                glBindTexture(GL_TEXTURE_2D, picture);
            }
        }
        glActiveTexture(GL_TEXTURE0);
        if (channelResolution >= 0) {
            const float sizes[12] = {1, 1, 1, 512, 2, 1, 256, 256, 1, 256, 256, 1};
            glUniform3fv(channelResolution, 4, sizes);
        }
        glDisable(GL_BLEND);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        glDisable(GL_CULL_FACE);
        glColor4f(1, 1, 1, 1);
        unitOrtho();
        unitQuad();
        glUseProgram(0);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glFinish();
    };

    for (long i = 0; i < warmup; ++i)
        draw();
    const double cpuBegin = cpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    for (long i = 0; i < frames; ++i)
        draw();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = cpuSeconds() - cpuBegin;
    const double n = frames > 0 ? static_cast<double>(frames) : 1.0;
    printf("frames=%ld wall_s=%.4f fps=%.2f us_per_frame=%.1f cpu_us_per_frame=%.1f\n", frames, wall,
           wall > 0 ? static_cast<double>(frames) / wall : 0.0, wall * 1e6 / n, cpu * 1e6 / n);
    const GLenum error = glGetError();
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_Quit();
    if (error != GL_NO_ERROR) {
        fprintf(stderr, "shader-reference: GL error 0x%x\n", error);
        return 1;
    }
    return 0;
}
