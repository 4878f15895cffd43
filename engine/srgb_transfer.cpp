#include "srgb_transfer.h"

#include <cmath>

namespace duoptica {

double srgbToLinear(double encoded) {
    return encoded <= 0.04045 ? encoded / 12.92 : std::pow((encoded + 0.055) / 1.055, 2.4);
}

double linearToSrgb(double linear) {
    return linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
}

namespace {

TransferTables makeTables() {
    TransferTables tables{};
    for (int c = 0; c < 256; ++c)
        tables.decode[c] = static_cast<float>(srgbToLinear(c / 255.0));
    for (int i = 0; i <= kEncodeSteps; ++i)
        tables.encode[i] =
            static_cast<std::uint8_t>(std::nearbyint(linearToSrgb(double(i) / kEncodeSteps) * 255));
    return tables;
}

} // namespace

const TransferTables &transferTables() {
    static const TransferTables tables = makeTables();
    return tables;
}

} // namespace duoptica
