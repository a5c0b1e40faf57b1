// The GL entry points for the rest of the program (the loader stays an implementation detail).
#pragma once

#include <GL/glew.h>
#include <GL/glu.h>
// GL state that render targets swap is followed as it is set (see GLState.h).
#include "platform/GLState.h"
