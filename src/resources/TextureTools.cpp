#include "resources/TextureTools.h"

#include "base/Report.h"
#include "demo/Random.h"
#include "resources/Texture.h"

#include <cstdlib>
#include <vector>

namespace TextureTools {

namespace {
size_t texelCount(const Texture* texture) {
    if (texture->width <= 0 || texture->height <= 0) return 0;
    return static_cast<size_t>(texture->width) * static_cast<size_t>(texture->height);
}

void replaceLevel0(Texture* texture, const std::vector<unsigned char>& texels) {
    texture->bind();
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, texture->width, texture->height, GL_RGBA, GL_UNSIGNED_BYTE,
                    texels.data());
}
} // namespace

void clearTexture(Texture* texture) {
    if (!texture) {
        reportError(__FILE__, __LINE__, "Illegal texture", true);
        return;
    }
    std::vector<unsigned char> texels(texelCount(texture) * 4 + 4, 0);
    replaceLevel0(texture, texels);
}

void randomizeTexture(Texture* texture) {
    if (!texture) {
        reportError(__FILE__, __LINE__, "Illegal texture", true);
        return;
    }
    const size_t count = texelCount(texture);
    std::vector<unsigned char> texels(count * 4 + 4, 0);
    for (size_t i = 0; i < count; ++i) {
        const unsigned char value = static_cast<unsigned char>(Random::next15() & 0xff);
        texels[i * 4 + 0] = value;
        texels[i * 4 + 1] = value;
        texels[i * 4 + 2] = value;
        texels[i * 4 + 3] = value;
    }
    replaceLevel0(texture, texels);
}

} // namespace TextureTools
