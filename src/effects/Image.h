// A picture from a data file as a screen-sized quad that can be moved, turned, scaled, scrolled
// and blended (alpha, additive, subtractive). The script knows it as "Image1", "Image2" and
// "Image3"; the name it was made for is its effect name.
#pragma once

#include "demo/Effect.h"
#include "resources/Texture.h"

class Image : public Effect {
  public:
    explicit Image(const std::string& scriptName);

    // Resets the motion (translation, rotation, scale, their speeds), the alpha boost, beat
    // factor and add-with-alpha; the subtract flag stays.
    void start(int time) override;
    // Loads the picture that Datafile names when the index changed.
    void prepare(int time) override;
    void render(int time) override;
    // Besides the base types: 5 alpha boost (beat factor x value), 7-12 translation, rotation,
    // scale, scroll speed, rotation speed, scale speed from the three values, 23/24 grow on/off,
    // 26 load the picture named by the text, 28 beat factor, 29 Alpha, 30 subtract, 32 add-with-alpha.
    void signal(const Signal& s) override;
    // Loads the pictures that the script's timed signals 26 will name, so that decoding and
    // uploading them does not fall into the frame where they are first shown.
    void warmUp() override;
    // A picture named for list 0 is loaded at once and becomes the one shown.
    void listItemAdded(int listId, const std::string& item, int count) override;

    struct Vec3 {
        float x, y, z;
    };

    FloatVariable red{1.0f}, green{1.0f}, blue{1.0f}, alpha{1.0f};
    BoolVariable blendMultiply{false}; // "BlendMultipy": alpha blending
    BoolVariable blendAdd{false};
    IntVariable datafile{0}; // index into list 0

    Texture* texture = nullptr;
    PreloadedPictures signalled; // the pictures of the timed signals 26
    int loadedIndex = -1;
    Vec3 translation{0, 0, 0};
    Vec3 rotation{0, 0, 0}; // degrees
    Vec3 scale{1, 1, 1};
    Vec3 scrollSpeed{0, 0, 0};
    Vec3 rotationSpeed{0, 0, 0};
    Vec3 scaleSpeed{0, 0, 0};
    float alphaBoost = 0.0f;
    float beatFactor = 0.0f;
    bool grow = true;
    bool subtract = false;
    bool addWithAlpha = false;
};
