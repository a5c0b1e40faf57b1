// The GL entry points for the rest of the program (the loader stays an implementation detail).
#pragma once

#include <GL/glew.h>
#include <GL/glu.h>
