// dof-reference: the passes of bench/effects/DOF.scr written directly against SDL and the GL, in
// one context with framebuffer objects, as a yardstick for the engine's DOF.
//   dof-reference --program FILE [--frames N] [--warmup N]
// Per frame: the linked picture (one flat quad) drawn through the focus program FILE into a
// 1024 x 1024 target; three streak passes of 12 quads each through three 512 x 512 targets; on the
// 800 x 600 window the blurred picture and the sharp one blended over it by its alpha; glFinish.
// Prints the same line as effect-bench.
#include <GL/glew.h>
#include <SDL.h>

#include "ReferenceGL.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

using namespace reference;

int main(int argc, char** argv) {
    long frames = 100, warmup = 5;
    std::string programPath;
    const char* usage = "usage: dof-reference --program FILE [--frames N] [--warmup N]\n";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            printf("dof-reference --program FILE [--frames N] [--warmup N]\n  the DOF bench's passes in "
                   "plain GL\n");
            return 0;
        }
        if (arg == "--version") {
            printf("dof-reference %s\n", HOLDFAST_VERSION);
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
    const std::string program = text.str();
    if (!file || program.empty()) {
        fprintf(stderr, "dof-reference: cannot read %s\n", programPath.c_str());
        return 1;
    }

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "dof-reference: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window =
        SDL_CreateWindow("dof-reference", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        fprintf(stderr, "dof-reference: %s\n", SDL_GetError());
        return 1;
    }
    glewExperimental = GL_TRUE;
    glewInit();
    glGetError();

    GLuint focus = 0;
    glGenProgramsARB(1, &focus);
    glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, focus);
    glProgramStringARB(GL_FRAGMENT_PROGRAM_ARB, GL_PROGRAM_FORMAT_ASCII_ARB,
                       static_cast<GLsizei>(program.size()), program.data());
    if (glGetError() != GL_NO_ERROR) {
        fprintf(stderr, "dof-reference: program rejected: %s\n",
                reinterpret_cast<const char*>(glGetString(GL_PROGRAM_ERROR_STRING_ARB)));
        return 1;
    }

    const Target p0 = makeTarget(1024), p1 = makeTarget(512), p2 = makeTarget(512), p3 = makeTarget(512);
    // The bench script's values: BlurFactor 0.5, GlowStrength 1, Constant 0.5, Weight1 1, Weight2 0.5.
    const float intensity = 0.5f * 2.0f / 12.0f, glow = 1.0f;

    auto frame = [&]() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, 800, 600);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

        // The linked picture through the focus program.
        into(p0);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnable(GL_FRAGMENT_PROGRAM_ARB);
        glBindProgramARB(GL_FRAGMENT_PROGRAM_ARB, focus);
        glProgramEnvParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, 0, 0.0f, 0.005f, 3.0f, 0.0f);
        glProgramEnvParameter4fARB(GL_FRAGMENT_PROGRAM_ARB, 1, 0.5f, 0.5f, 0.5f, 1.0f);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        glDisable(GL_TEXTURE_2D);
        unitOrtho();
        glColor4f(0.8f, 0.5f, 0.3f, 1.0f);
        unitQuad();
        glDisable(GL_FRAGMENT_PROGRAM_ARB);
        glColor4f(1, 1, 1, 1);

        // Streaks.
        streak(p0, p1, 1.0f, 2.5f, intensity);
        streak(p1, p2, 3.0f, 6.5f, intensity);
        streak(p2, p3, 5.0f, 12.5f, intensity);

        // The blurred picture, the sharp one over it by its alpha.
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, 800, 600);
        unitOrtho();
        glEnable(GL_TEXTURE_2D);
        glColor4f(1, 1, 1, 1);
        glBindTexture(GL_TEXTURE_2D, p3.colour);
        unitQuad();
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glColor4f(glow, glow, glow, glow);
        glBindTexture(GL_TEXTURE_2D, p0.colour);
        unitQuad();
        glDisable(GL_BLEND);
        glColor4f(1, 1, 1, 1);
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glFinish();
    };

    for (long i = 0; i < warmup; ++i)
        frame();
    const double cpuBegin = cpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    for (long i = 0; i < frames; ++i)
        frame();
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
        fprintf(stderr, "dof-reference: GL error 0x%x\n", error);
        return 1;
    }
    return 0;
}
