// Channel extractors: each returns one channel of a colour as decimal text, 0 to 255.
#pragma once

#include "color_value.h"

#include <string>

namespace Module2 {

std::string GetRed(const duoptica::ColorValue &color);
std::string GetGreen(const duoptica::ColorValue &color);
std::string GetBlue(const duoptica::ColorValue &color);

} // namespace Module2
