#include "combine_run.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace duoptica {

namespace {

constexpr ColorValue kBandBlack = 0x000000;
constexpr ColorValue kBandWhite = 0xFFFFFF;

// Coordinates are counted in single precision and handed to the pixel calls rounded to nearest.
std::int32_t toPixel(float coordinate) {
    return static_cast<std::int32_t>(std::lrint(coordinate));
}

void setControls(RunHost &host, std::initializer_list<std::pair<Control, bool>> states) {
    for (const auto &[control, enabled] : states)
        host.setControlEnabled(control, enabled);
}

void enterRunningState(RunHost &host) {
    setControls(host, {{Control::Command1, false},
                       {Control::Command2, false},
                       {Control::Command3, false},
                       {Control::Command4, true},
                       {Control::Command5, false},
                       {Control::Option1, false},
                       {Control::Option3, false},
                       {Control::Option2, false}});
}

void enterIdleState(RunHost &host) {
    setControls(host, {{Control::Command1, true},
                       {Control::Command2, true},
                       {Control::Command3, true},
                       {Control::Command4, false},
                       {Control::Command5, true},
                       {Control::Option1, true},
                       {Control::Option2, true},
                       {Control::Option3, true}});
}

bool sizesDiffer(RunSurface &left, RunSurface &right) {
    return right.Width() != left.Width() || right.Height() != left.Height();
}

std::string percentCaption(float wholePercent) {
    return std::to_string(static_cast<int>(wholePercent)) + "%";
}

// Four rows across the output from row y down: black, white, white, black. The scan overwrites
// them row by row, so on screen the band marks where the scan stands.
void drawMarkerBand(RunSurface &output, float y, float columnLimit) {
    const std::int32_t row = toPixel(y);
    for (float i = 0; i <= columnLimit; i += 1) {
        const std::int32_t column = toPixel(i);
        output.setPixel(column, row, kBandBlack);
        output.setPixel(column, row + 1, kBandWhite);
        output.setPixel(column, row + 2, kBandWhite);
        output.setPixel(column, row + 3, kBandBlack);
    }
}

// Rows 0 to the row limit and columns -1 to the column limit, both inclusive: the extra
// positions lie outside the bitmaps, read as -1 and write nowhere.
RunOutcome scan(RunHost &host) {
    RunSurface &left = host.leftSurface();
    RunSurface &right = host.rightSurface();
    RunSurface &output = host.outputSurface();

    float lastPercent = 0;
    const float rowLimit = left.ScaleHeight();
    for (float y = 0; y <= rowLimit; y += 1) {
        const float columnLimit = left.ScaleWidth();
        for (float x = -1; x <= columnLimit; x += 1) {
            const ColorValue leftColor = left.pixel(toPixel(x), toPixel(y));
            const ColorValue rightColor = right.pixel(toPixel(x), toPixel(y));
            if (host.stopFlag() == kTrue16) {
                host.setCaption(kStoppedCaptionPrefix + host.caption());
                return RunOutcome::Stopped;
            }
            output.setPixel(toPixel(x), toPixel(y),
                            combinePixel(leftColor, rightColor, host.selectedMode()));
            host.doEvents();

            if (progressPercent(y, left.ScaleHeight()) > lastPercent) {
                lastPercent = progressPercent(y, left.ScaleHeight());
                host.setCaption(percentCaption(lastPercent));
                drawMarkerBand(output, y, left.ScaleWidth());
                output.Refresh();
            }
        }
    }
    return RunOutcome::Done;
}

} // namespace

float progressPercent(float y, float rowLimit) {
    if (rowLimit == 0)
        return 0;
    const auto percent = static_cast<float>(static_cast<double>(y) / rowLimit * 100.0);
    return std::nearbyint(percent);
}

RunOutcome runCombine(RunHost &host) {
    RunSurface &left = host.leftSurface();
    RunSurface &right = host.rightSurface();
    RunSurface &output = host.outputSurface();

    output.Cls();
    host.setCaption(percentCaption(0));
    host.setStopFlag(kFalse16);

    RunOutcome outcome = RunOutcome::SizeMismatch;
    if (sizesDiffer(left, right)) {
        host.showMessage(kSizeMismatchPrompt, kSizeMismatchTitle);
        host.setCaption(kProgramCaption);
    } else {
        output.setWidth(left.Width());
        output.setHeight(left.Height());
        enterRunningState(host);
        outcome = scan(host);
        if (outcome == RunOutcome::Done)
            host.setCaption(kDoneCaption);
    }

    output.Refresh();
    enterIdleState(host);
    return outcome;
}

} // namespace duoptica
