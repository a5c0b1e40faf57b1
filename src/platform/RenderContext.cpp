#include "platform/RenderContext.h"

#include <SDL.h>

namespace platform {

struct RenderContext {
    SDL_Window* window;
    SDL_GLContext context;
};

Binding currentBinding() {
    Binding binding;
    binding.context = SDL_GL_GetCurrentContext();
    binding.window = binding.context ? SDL_GL_GetCurrentWindow() : nullptr;
    return binding;
}

bool makeBindingCurrent(const Binding& binding) {
    return SDL_GL_MakeCurrent(static_cast<SDL_Window*>(binding.window),
                              static_cast<SDL_GLContext>(binding.context)) == 0;
}

RenderContext* createSharedContext() {
    const Binding previous = currentBinding();
    if (!previous.context || !previous.window) return nullptr;
    SDL_Window* window = static_cast<SDL_Window*>(previous.window);
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 1);
    SDL_GLContext created = SDL_GL_CreateContext(window); // becomes current on success
    SDL_GL_SetAttribute(SDL_GL_SHARE_WITH_CURRENT_CONTEXT, 0);
    makeBindingCurrent(previous);
    if (!created) return nullptr;
    return new RenderContext{window, created};
}

bool makeCurrent(RenderContext* context) {
    if (!context) return false;
    return SDL_GL_MakeCurrent(context->window, context->context) == 0;
}

Binding bindingOf(const RenderContext* context) {
    Binding binding;
    if (context) {
        binding.window = context->window;
        binding.context = context->context;
    }
    return binding;
}

void deleteRenderContext(RenderContext* context) {
    if (!context) return;
    if (SDL_GL_GetCurrentContext() == context->context) SDL_GL_MakeCurrent(context->window, nullptr);
    SDL_GL_DeleteContext(context->context);
    delete context;
}

} // namespace platform
