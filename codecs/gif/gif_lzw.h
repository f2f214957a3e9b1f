// The GIF image-data coder: variable-width LZW, codes packed least
// significant bit first, widths from minimum code size + 1 up to 12 bits.
// Reached through the record's replaceable hooks (GIF_LZWDECOMPFUNC,
// GIF_LZWCOMPFUNC); the process-wide defaults point here.
#pragma once

#include <cstdint>

namespace pravik {

class TStream;

// Reads the image-data block at the stream's position (minimum code size,
// sub-blocks, terminator) into dest, width x height index bytes, interlaced
// rows put in their places. On success the stream is left after the block's
// terminator; on a corrupt block it is moved back to where it was.
void GIFLZWDecompress(TStream& stream, int height, int width, std::uint8_t* dest, bool interlaced);

// Writes source (width x height index bytes, each below 2^bitsPerPixel, rows
// in order; interlaced output takes them in the four-pass order) as one
// complete image-data block.
void GIFLZWCompress(TStream& stream, int height, int width, bool interlaced, const std::uint8_t* source,
                    int bitsPerPixel);

// GIFLZWDecompress with its outcome: false (stream moved back) for a corrupt
// block; pixelsStored receives how many pixels the data reached (fewer than
// width x height when the data ends early).
bool GIFLZWDecode(TStream& stream, int height, int width, std::uint8_t* dest, bool interlaced,
                  std::int64_t& pixelsStored);

// The most pixels an LZW code stream of dataBytes bytes can produce with the
// given minimum code size: every code takes at least minCodeSize + 1 bits and
// yields at most 4096 bytes. Readers refuse larger images before allocating.
std::int64_t GIFLZWMaxPixels(std::int64_t dataBytes, int minCodeSize);

}  // namespace pravik
