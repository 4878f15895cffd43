#include "deflate_join.h"

#include <cstddef>

#include <zlib.h>

namespace duoptica {

bool makeDeflateJoinable(std::vector<unsigned char> &stream) {
    if (stream.empty())
        return false;
    // A deflate block has no length: only decoding finds where the last one starts. zlib's inflate
    // stops at each block boundary when asked for Z_BLOCK and tells how many bits of the last byte
    // it read are left, which is where the next block's header, and its final-block bit, begins.
    z_stream inflater{};
    if (inflateInit2(&inflater, -15) != Z_OK)
        return false;
    inflater.next_in = stream.data();
    inflater.avail_in = uInt(stream.size());
    std::vector<unsigned char> discarded(1 << 16);
    std::size_t headerByte = 0;
    unsigned char headerBit = 1;
    int unusedBits = -1; // in the last byte, once the final block has ended
    int status = Z_OK;
    while (status == Z_OK) {
        inflater.next_out = discarded.data();
        inflater.avail_out = uInt(discarded.size());
        status = inflate(&inflater, Z_BLOCK);
        const bool atBoundary = (inflater.data_type & 128) != 0;
        if (status != Z_OK || !atBoundary)
            continue;
        const int bitsLeft = inflater.data_type & 7;
        if ((inflater.data_type & 64) != 0) { // the block that ended was the final one
            unusedBits = bitsLeft;
            continue;
        }
        const auto consumed = std::size_t(inflater.next_in - stream.data());
        headerByte = bitsLeft > 0 ? consumed - 1 : consumed;
        headerBit = bitsLeft > 0 ? static_cast<unsigned char>(0x100 >> bitsLeft) : 1;
    }
    const bool whole = status == Z_STREAM_END && inflater.avail_in == 0 && unusedBits >= 0;
    inflateEnd(&inflater);
    if (!whole)
        return false;
    stream[headerByte] &= static_cast<unsigned char>(~headerBit);
    // An empty stored block: three header bits of zeros, padding to the byte, then a length of 0
    // and its complement. The header fits in the last byte's unused bits when there are three.
    stream.back() &= static_cast<unsigned char>((1u << (8 - unusedBits)) - 1);
    if (unusedBits < 3)
        stream.push_back(0);
    for (const unsigned char byte : {0x00, 0x00, 0xFF, 0xFF})
        stream.push_back(byte);
    return true;
}

} // namespace duoptica
