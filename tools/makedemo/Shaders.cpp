// The demo's fragment programs, written as text files under data/shaders.
#include "makedemo/ContentSteps.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Depth of field. A fragment program replaces the whole fixed-function fragment stage, texturing
// included, so this one does what that stage does for a material with one texture: the texel of
// unit 0 (first coordinate set, or the sphere-map coordinates of a reflective material) times the
// lit colour, plus the separate specular colour. Texels with no opacity are cut here, since the
// alpha test only sees what is written to alpha: the focus weight, 1 within a band around the
// focus depth and falling off linearly with the window-depth distance beyond it, never quite 0.
// The DOF effect passes env[0] = (0, Constant / 100, (2 Weight1 - 0.5) * 2, (Weight2 - 0.5) * 2)
// and env[1] = (0.5, 0.5, 0.5, 1), so the focus depth is Weight2, the band half-width
// Constant / 100 and the fall-off 64 * (4 Weight1 - 1) per unit of depth (window depths crowd
// towards 1).
const char kDofLight[] = R"(!!ARBfp1.0
# DOF: the picture as one texture draws it, and the focus weight in alpha.
PARAM shape = program.env[0];
PARAM mid = program.env[1];
PARAM k = {64.0, 0.004, 0.0, 0.0};
TEMP texel, colour, d;
TEX texel, fragment.texcoord[0], texture[0], 2D;
MUL colour, texel, fragment.color;
SUB d, colour.w, k.y;
KIL d;
ADD result.color.xyz, colour, fragment.color.secondary;
MAD d.x, shape.w, mid.x, mid.y;
SUB d.x, fragment.position.z, d.x;
ABS d.x, d.x;
SUB d.x, d.x, shape.y;
MUL d.x, d.x, shape.z;
MUL d.x, d.x, k.x;
SUB_SAT d.x, mid.w, d.x;
MAX result.color.w, d.x, k.y;
END
)";

bool writeText(const fs::path& path, const char* text, size_t size) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out.write(text, static_cast<std::streamsize>(size));
    if (!out) {
        fprintf(stderr, "holdfast-makedemo: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool makeShaders(const fs::path& dataDir) {
    return writeText(dataDir / "shaders" / "dof_light.qzs", kDofLight, sizeof kDofLight - 1);
}

RegisterContentStep reg("shaders", makeShaders);

} // namespace
