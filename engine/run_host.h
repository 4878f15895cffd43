// What the combine run needs from the window around it: three surfaces, the title, the stop
// flag, the selected mode, the controls' enabled states, a message box and the event-loop yield.
// The window implements it with real widgets; tests implement it with scripted fakes.
#pragma once

#include "color_value.h"
#include "pixel_rule.h"

#include <cstdint>
#include <string>

namespace duoptica {

// A picture area with a persistent bitmap. Sizes are in twips (15 per pixel) for the outer
// size and in pixels for the inner size, both single precision.
class RunSurface {
public:
    virtual float Width() const = 0;
    virtual float Height() const = 0;
    virtual void setWidth(float twips) = 0;
    virtual void setHeight(float twips) = 0;
    virtual float ScaleWidth() const = 0;
    virtual float ScaleHeight() const = 0;
    // A read outside the bitmap answers kOutsideBitmap; a write outside changes nothing.
    virtual ColorValue pixel(std::int32_t x, std::int32_t y) const = 0;
    virtual void setPixel(std::int32_t x, std::int32_t y, ColorValue color) = 0;
    virtual void Cls() = 0;
    virtual void Refresh() = 0;

protected:
    ~RunSurface() = default;
};

enum class Control { Command1, Command2, Command3, Command4, Command5, Option1, Option2, Option3 };

class RunHost {
public:
    virtual RunSurface &leftSurface() = 0;
    virtual RunSurface &rightSurface() = 0;
    virtual RunSurface &outputSurface() = 0;
    virtual std::string caption() const = 0;
    virtual void setCaption(const std::string &text) = 0;
    virtual Boolean16 stopFlag() const = 0;
    virtual void setStopFlag(Boolean16 value) = 0;
    virtual CombineMode selectedMode() const = 0;
    virtual void setControlEnabled(Control control, bool enabled) = 0;
    // A modal message box with one OK button and no icon.
    virtual void showMessage(const std::string &prompt, const std::string &title) = 0;
    // Lets the event loop handle whatever is pending, once.
    virtual void doEvents() = 0;

protected:
    ~RunHost() = default;
};

} // namespace duoptica
