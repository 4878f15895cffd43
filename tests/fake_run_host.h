// Scripted stand-ins for the window around a combine run: surfaces that are plain pixel arrays,
// and a host whose yield calls back into the test at an exact pixel step.
#pragma once

#include "run_host.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

class FakeSurface : public duoptica::RunSurface {
public:
    static constexpr duoptica::ColorValue kBackground = 0x404040;

    FakeSurface(int width, int height) { resizeTo(width, height); }

    // What Cls() restores, like a loaded picture; the same size as the surface.
    void setPicture(std::vector<duoptica::ColorValue> picture) {
        picture_ = std::move(picture);
        Cls();
    }

    float Width() const override { return static_cast<float>(width_ * 15); }
    float Height() const override { return static_cast<float>(height_ * 15); }
    void setWidth(float twips) override { resizeTo(static_cast<int>(twips / 15), height_); }
    void setHeight(float twips) override { resizeTo(width_, static_cast<int>(twips / 15)); }
    float ScaleWidth() const override { return static_cast<float>(width_); }
    float ScaleHeight() const override { return static_cast<float>(height_); }

    duoptica::ColorValue pixel(std::int32_t x, std::int32_t y) const override {
        ++reads;
        return inside(x, y) ? bitmap[index(x, y)] : duoptica::kOutsideBitmap;
    }

    void setPixel(std::int32_t x, std::int32_t y, duoptica::ColorValue color) override {
        if (inside(x, y))
            bitmap[index(x, y)] = color & 0xFFFFFF;
    }

    void Cls() override {
        bitmap = picture_.empty() ? std::vector<duoptica::ColorValue>(bitmap.size(), kBackground)
                                  : picture_;
    }

    void Refresh() override { ++refreshes; }

    duoptica::ColorValue at(int x, int y) const { return bitmap[index(x, y)]; }

    std::vector<duoptica::ColorValue> bitmap;
    mutable long reads = 0;
    int refreshes = 0;

private:
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
    std::size_t index(int x, int y) const { return static_cast<std::size_t>(y * width_ + x); }

    void resizeTo(int width, int height) {
        width_ = width;
        height_ = height;
        bitmap.assign(static_cast<std::size_t>(width * height), kBackground);
    }

    int width_ = 0;
    int height_ = 0;
    std::vector<duoptica::ColorValue> picture_;
};

class FakeRunHost : public duoptica::RunHost {
public:
    FakeRunHost(int width, int height)
        : left(width, height)
        , right(width, height)
        , output(width, height) {}

    FakeSurface &leftSurface() override { return left; }
    FakeSurface &rightSurface() override { return right; }
    FakeSurface &outputSurface() override { return output; }
    std::string caption() const override { return title; }
    void setCaption(const std::string &text) override {
        title = text;
        captions.emplace_back(yields, text);
    }
    duoptica::Boolean16 stopFlag() const override { return StopFlag; }
    void setStopFlag(duoptica::Boolean16 value) override { StopFlag = value; }
    duoptica::CombineMode selectedMode() const override { return mode; }
    void setControlEnabled(duoptica::Control control, bool isEnabled) override {
        enabled[control] = isEnabled;
    }
    void showMessage(const std::string &prompt, const std::string &boxTitle) override {
        messages.emplace_back(prompt, boxTitle);
    }
    void doEvents() override {
        if (onYield)
            onYield(yields);
        ++yields;
    }

    bool idle() const {
        using duoptica::Control;
        for (Control c : {Control::Command1, Control::Command2, Control::Command3,
                          Control::Command5, Control::Option1, Control::Option2, Control::Option3})
            if (!enabled.at(c))
                return false;
        return !enabled.at(Control::Command4);
    }

    FakeSurface left;
    FakeSurface right;
    FakeSurface output;
    std::string title = "Duoptica";
    duoptica::Boolean16 StopFlag = duoptica::kFalse16;
    duoptica::CombineMode mode = duoptica::CombineMode::Normal;
    std::map<duoptica::Control, bool> enabled;
    std::vector<std::pair<std::string, std::string>> messages;
    // Every title set, with the number of yields made before it.
    std::vector<std::pair<long, std::string>> captions;
    // Called inside the yield of pixel step n (counted from 0).
    std::function<void(long n)> onYield;
    long yields = 0;
};
