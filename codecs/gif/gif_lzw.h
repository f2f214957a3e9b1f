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

// The most pixels an LZW code stream of dataBytes bytes can produce: a code
// of s bits is below 2^s, and the string of code k is at most k - 2^m bytes
// long, so no code yields more than 4096/12 pixels per bit. Readers refuse
// larger images before allocating (decompression bombs).
std::int64_t GIFLZWMaxPixels(std::int64_t dataBytes);

}  // namespace pravik
