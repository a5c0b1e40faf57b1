// Post-processing effects draw the picture of their linked effect (signal 2) into render
// targets of their own every frame and then use those targets as textures. These helpers hold
// the part every such effect shares: how the linked effect is started and drawn into the targets.
#pragma once

#include "platform/GL.h"
#include "resources/PBuffer.h"

#include <initializer_list>

class Effect;

// One target the linked effect is drawn into: cleared with clearMask first, then the linked
// effect's update and render, then afterRender (an extra pass inside the target) if given.
struct LinkedTarget {
    PBuffer* target;
    GLbitfield clearMask;
    void (*afterRender)() = nullptr;
};

// (Re)creates a size x size target holding `buffers`, whose texture repeats (GL_REPEAT, GL_LINEAR
// minification, magFilter magnification), and clears clearMask of it to transparent black. The
// depth buffer is made when the linked effect first draws with the depth test on: most draw flat.
// A RemadeEachFrame target is cleared so when a frame first uses it.
void initLinkedTarget(PBuffer& target, int size, GLint magFilter = GL_NEAREST,
                      GLbitfield clearMask = GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT,
                      TargetBuffers buffers = TargetBuffers::DepthWhenNeeded,
                      TargetLifetime lifetime = TargetLifetime::Kept);

// To follow the base start: starts the linked effect, then once more inside every initialised
// target so that it can make what it needs in that target's context. Nothing without a link.
void startLinked(Effect* linked, int time, std::initializer_list<PBuffer*> targets);

// To follow the base update: draws the linked effect into every initialised target in order
// and puts the caller's viewport back. Nothing without a link.
void updateLinked(Effect* linked, int time, std::initializer_list<LinkedTarget> targets);
