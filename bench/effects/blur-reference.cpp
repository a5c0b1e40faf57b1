// blur-reference: the passes of bench/effects/Blur.scr written directly against SDL and the GL,
// in one context with framebuffer objects, as a yardstick for the engine's Blur.
//   blur-reference [--frames N] [--warmup N]
// Per frame: the linked picture (a clear to a colour) into a 1024 x 1024 target; the threshold
// pass into a 512 x 512 target (the picture, a reverse-subtracted quad, four multiply quads);
// four streak passes of 12 quads each through three 512 x 512 targets; on the 800 x 600 window
// the unprocessed picture and the result added on top; glFinish. Prints the same line as
// effect-bench.
#include <GL/glew.h>
#include <SDL.h>

#include "ReferenceGL.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

using namespace reference;

int main(int argc, char** argv) {
    long frames = 100, warmup = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            printf("blur-reference [--frames N] [--warmup N]\n  the Blur bench's passes in plain GL\n");
            return 0;
        }
        if (arg == "--version") {
            printf("blur-reference %s\n", HOLDFAST_VERSION);
            return 0;
        }
        if ((arg == "--frames" || arg == "--warmup") && i + 1 < argc) {
            char* end = nullptr;
            const long v = std::strtol(argv[++i], &end, 10);
            if (!end || *end || v < 0) {
                fprintf(stderr, "usage: blur-reference [--frames N] [--warmup N]\n");
                return 2;
            }
            (arg == "--frames" ? frames : warmup) = v;
            continue;
        }
        fprintf(stderr, "usage: blur-reference [--frames N] [--warmup N]\n");
        return 2;
    }

    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        fprintf(stderr, "blur-reference: %s\n", SDL_GetError());
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window =
        SDL_CreateWindow("blur-reference", 0, 0, 800, 600, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    SDL_GLContext context = window ? SDL_GL_CreateContext(window) : nullptr;
    if (!context) {
        fprintf(stderr, "blur-reference: %s\n", SDL_GetError());
        return 1;
    }
    glewExperimental = GL_TRUE;
    glewInit();
    glGetError();

    const Target p0 = makeTarget(1024), p1 = makeTarget(512), p2 = makeTarget(512), p3 = makeTarget(512);
    // The bench script's values: Subtract 0.4, Multiply 1, BlurFactor 0.5, GlowStrength 1.
    const float subtract = 0.4f, multiply = 1.0f, intensity = 0.5f * 2.0f / 12.0f, glow = 1.0f;

    auto frame = [&]() {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, 800, 600);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

        // The linked picture.
        into(p0);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glClearColor(0.8f, 0.5f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);

        // Threshold.
        into(p3);
        glDisable(GL_CULL_FACE);
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        unitOrtho();
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, p0.colour);
        glColor4f(1, 1, 1, 1);
        unitQuad();
        glBindTexture(GL_TEXTURE_2D, 0);
        glColor4f(subtract, subtract, subtract, subtract);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glBlendEquation(GL_FUNC_REVERSE_SUBTRACT);
        unitQuad();
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(GL_DST_COLOR, GL_ONE);
        glColor4f(multiply, multiply, multiply, multiply);
        for (int k = 0; k < 4; ++k)
            unitQuad();
        glDisable(GL_BLEND);
        glColor4f(1, 1, 1, 1);

        // Streaks.
        streak(p3, p1, 1.0f, 2.5f, intensity);
        streak(p1, p2, 3.0f, 6.5f, intensity);
        streak(p2, p3, 5.0f, 12.5f, intensity);
        streak(p3, p1, 7.0f, 17.5f, intensity);

        // Glow on the window.
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, 800, 600);
        unitOrtho();
        glEnable(GL_TEXTURE_2D);
        glColor4f(1, 1, 1, 1);
        glBindTexture(GL_TEXTURE_2D, p3.colour);
        unitQuad();
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
        glColor4f(glow, glow, glow, glow);
        glBindTexture(GL_TEXTURE_2D, p1.colour);
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
        fprintf(stderr, "blur-reference: GL error 0x%x\n", error);
        return 1;
    }
    return 0;
}
