// Turns a whole raw deflate stream into a run of blocks that another stream can follow, so that
// streams deflated apart (by a compressor that always ends its output) join into one.
#pragma once

#include <vector>

namespace duoptica {

// Clears the final-block mark of the stream's last block and ends the stream on a byte boundary
// with an empty stored block, as a sync flush would. False, and the bytes unchanged, when they are
// not one whole raw deflate stream.
bool makeDeflateJoinable(std::vector<unsigned char> &stream);

} // namespace duoptica
