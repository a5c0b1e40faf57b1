// What the two grid effects share: a picture (a linked effect rendered into a 512 x 512 target,
// made when the first link comes, every frame; or a texture named by signal 4) laid on an animated GridMesh
// seen through a perspective camera, their variables and their drawing. Each effect adds its grid, camera
// distance, texture spin and animation formulas.
#pragma once

#include "demo/Effect.h"
#include "effects/GridMesh.h"
#include "resources/PBuffer.h"
#include "resources/Texture.h"

class GridEffect : public Effect {
  public:
    void start(int time) override;
    void update(int time) override;
    void render(int time) override;
    // 4: the texture of that name becomes the picture when no effect is linked.
    void signal(const Signal& s) override;
    // Loads the textures that the script's timed signals 4 will name.
    void warmUp() override;

    // Deforms the grid with formula `anim` at frame time `time` (values without a formula leave
    // it unchanged).
    virtual void animate(int anim, int time) = 0;

    FloatVariable red{1.0f};           // "Red"
    FloatVariable green{1.0f};         // "Green"
    FloatVariable blue{1.0f};          // "Blue"
    FloatVariable alpha{1.0f};         // "Alpha"
    IntVariable anim{4};               // "Anim": the animation formula
    BoolVariable rotate{false};        // "Rotate": spin the texture
    BoolVariable blend{true};          // "Blend": additive blending
    BoolVariable shade{false};         // "Shade": per-vertex colours
    FloatVariable ampX{0.3f};          // "ampX"
    FloatVariable ampY{0.1f};          // "ampY"
    FloatVariable ampZ{0.2f};          // "ampZ"
    FloatVariable magicStrength{0.3f}; // "magicStrength"
    FloatVariable magic1;              // "magic1" .. "magic5": formula coefficients
    FloatVariable magic2;
    FloatVariable magic3;
    FloatVariable magic4;
    FloatVariable magic5;

    GridMesh grid;
    PBuffer pbuffer;
    Texture* texture = nullptr;
    PreloadedPictures signalled; // the pictures of the timed signals 4
    // The formula the grid was last animated with; another one starts from a reset grid.
    int appliedAnim = kNoAnim;

    static constexpr int kNoAnim = -2147483647 - 1;
    static constexpr int kPictureSize = 512;

  protected:
    GridEffect(const char* scriptName, int n, float width, float height, float texWidth, float texHeight,
               float magicDefault, float cameraDistance);
    // The texture matrix after its identity (GL_TEXTURE is current).
    virtual void spinTexture(int time) = 0;

  private:
    // Creates the picture's target when an effect is linked and it has none yet.
    void makePicture();

    float distance;
    bool inPicture = false; // drawing (or starting) the linked effect into the picture
};

// Aspect ratio of the grid cameras: the screen's width over its height in whole numbers, as the
// grids were tuned (1 on 800 x 600 and 1024 x 768).
int gridAspect();
