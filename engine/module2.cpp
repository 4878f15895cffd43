#include "module2.h"

namespace Module2 {

// Masking after the shift keeps bits 24-31 (and the sign of -1) out of every channel.
std::string GetRed(const duoptica::ColorValue &color) {
    return std::to_string(color & 0xFF);
}

std::string GetGreen(const duoptica::ColorValue &color) {
    return std::to_string((color >> 8) & 0xFF);
}

std::string GetBlue(const duoptica::ColorValue &color) {
    return std::to_string((color >> 16) & 0xFF);
}

} // namespace Module2
