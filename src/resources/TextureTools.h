// Fills existing 2D textures with zeros or noise.
#pragma once

class Texture;

namespace TextureTools {
// Level 0 becomes all zero bytes. No texture: fatal "Illegal texture".
void clearTexture(Texture* texture);
// Level 0 becomes grey noise: each texel takes the low byte of the next random number in all four
// channels. No texture: fatal "Illegal texture".
void randomizeTexture(Texture* texture);
} // namespace TextureTools
