// Shrinks a picture of packed pixels by area averaging, a few rows at a time, to exactly the bytes
// OpenCV's cv::resize(INTER_AREA) gives the whole picture as four 8-bit channels: each source row
// is summed across once, each output row is the weighted sum of the rows it covers, rounded once.
// So a picture streamed through it in bands is shrunk as the general path shrinks it whole.
#pragma once

#include "combine_span.h"

#include <cstddef>
#include <vector>

namespace duoptica {

class AreaShrink {
public:
    // width and height at most the source's, and at least 1.
    AreaShrink(int sourceWidth, int sourceHeight, int width, int height);

    // The most output rows one call may write for count source rows.
    static int maxRowsFor(int count) { return count + 1; }

    // Takes the next count source rows (sourceWidth words each, stride words apart) and writes
    // the output rows they complete to output, width words each, returning how many. The call
    // that takes the last source row writes the last output row as well.
    int addRows(const PackedPixel *rows, std::size_t stride, int count, PackedPixel *output);

private:
    // A source row's or column's share in an output row or column, in source order.
    struct Share {
        int source;
        int target;
        float weight;
    };

    int addRowByBlocks(const PackedPixel *row, PackedPixel *output);
    int addRowByShares(const PackedPixel *row, PackedPixel *output);
    void layOutColumns(const std::vector<Share> &shares);
    void sumAcross(const PackedPixel *row);

    int sourceWidth_;
    int sourceHeight_;
    int width_;
    int blockWidth_ = 0; // both set when the sides shrink by whole numbers
    int blockHeight_ = 0;
    // Each output column's source columns, columnSpan_ of them from its first, and their
    // weights, each four times over for the four channels.
    int columnSpan_ = 0;
    std::vector<int> columnFirsts_;
    std::vector<float> columnWeights_;
    std::vector<Share> rowShares_;
    std::size_t nextRowShare_ = 0;
    int sourceRow_ = 0;
    int outputRow_ = 0;
    std::vector<float> across_; // the source row summed into each output column, 4 channels each
    std::vector<float> sums_;   // the output row so far
    std::vector<std::uint32_t> blockSums_;
};

} // namespace duoptica
