// Names of the skin pictures the program loads from ./images/. The build
// draws every one of them (tools/mkskin); start-up loads the first 19 into
// the gpPixmap* globals, the widgets load the others by name.
#pragma once

#include <cstddef>

struct SkinPicture {
    const char* name;  // file name inside ./images/
    int width;
    int height;
};

// In start-up's loading order: logo, background, title, line, edit, the
// three slider parts, button up/down, output lamp on/off, then the seven
// view controls (origin, up, down, left, right, enlarge, reduce).
constexpr SkinPicture kSkinPictures[] = {
    {"logo.bmp", 240, 80},       {"background.png", 1280, 800}, {"title.png", 1280, 64},
    {"line.png", 1280, 4},       {"edit.png", 330, 60},         {"slideru.png", 120, 20},
    {"sliderd.png", 120, 20},    {"slidert.png", 25, 40},       {"buttonu.png", 200, 80},
    {"buttond.png", 200, 80},    {"OUT1.png", 40, 40},          {"OUT0.png", 40, 40},
    {"Origin.png", 64, 64},      {"MoveUp.png", 64, 64},        {"MoveDown.png", 64, 64},
    {"MoveLeft.png", 64, 64},    {"MoveRight.png", 64, 64},     {"EnlargeScale.png", 64, 64},
    {"ReductionScale.png", 64, 64},
};
constexpr std::size_t kSkinPictureCount = sizeof kSkinPictures / sizeof kSkinPictures[0];

// Pictures the widgets name in their style sheets and icons.
constexpr SkinPicture kWidgetPictures[] = {
    {"check.png", 32, 32},      {"CheckBox1.png", 32, 32},       {"CheckBox2.png", 32, 32},
    {"left.png", 60, 60},       {"right.png", 60, 60},           {"wait.png", 64, 64},
    {"error.png", 60, 60},      {"hide.png", 25, 35},            {"show.png", 25, 35},
    {"ShowHide.png", 64, 64},   {"ShowHideChecked.png", 64, 64}, {"Rotate.png", 60, 40},
    {"wifi.png", 40, 40},       {"modify.png", 40, 40},
};
constexpr std::size_t kWidgetPictureCount = sizeof kWidgetPictures / sizeof kWidgetPictures[0];
