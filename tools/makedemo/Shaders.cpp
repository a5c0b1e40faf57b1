// The demo's fragment programs, written as text files under data/shaders.
#include "makedemo/ContentSteps.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Depth-of-field weight. The colour is the fragment's own; alpha is 1 within a band around the
// focus depth and falls off linearly with the window-depth distance beyond it. The DOF effect
// passes env[0] = (0, Constant / 100, (2 Weight1 - 0.5) * 2, (Weight2 - 0.5) * 2) and
// env[1] = (0.5, 0.5, 0.5, 1), so the focus depth is Weight2, the band half-width Constant / 100
// and the fall-off 64 * (4 Weight1 - 1) per unit of depth (window depths crowd towards 1).
const char kDofLight[] = R"(!!ARBfp1.0
# DOF focus weight: colour from the fragment, alpha from its distance to the focus depth.
PARAM shape = program.env[0];
PARAM mid = program.env[1];
PARAM gain = {64.0, 64.0, 64.0, 64.0};
TEMP focus, d;
MAD focus.x, shape.w, mid.x, mid.y;
SUB d.x, fragment.position.z, focus.x;
ABS d.x, d.x;
SUB d.x, d.x, shape.y;
MUL d.x, d.x, shape.z;
MUL d.x, d.x, gain.x;
SUB_SAT result.color.w, mid.w, d.x;
MOV result.color.xyz, fragment.color;
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
