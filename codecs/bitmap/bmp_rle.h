// Run-length coding of bitmap pixel data (RLE8 and RLE4), private to the
// bitmap codecs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pravik {

// Appends the code of one row of n palette indexes, ending with the
// end-of-line pair (0, 0). RLE4 takes indexes below 16.
void BMPEncodeRLE8Row(const std::uint8_t* indexes, int n, std::vector<std::uint8_t>& out);
void BMPEncodeRLE4Row(const std::uint8_t* indexes, int n, std::vector<std::uint8_t>& out);

enum class TBMPRLEEnd : std::uint8_t {
  EndCode,   // the end-of-bitmap pair
  RowsDone,  // an end of line or a delta moved past the last row
  DataEnd,   // the data ran out first
  Stopped,   // the sink asked to stop
};

// Decodes RLE8 (bits 8) or RLE4 (bits 4) data into width x height pixels.
// File rows count down from height - 1 (the first stored row) to 0. The sink
// gets:
//   void Row(int r)                  before pixels of file row r
//   void Put(int x, std::uint8_t v)  a pixel of that row, 0 <= x < width
//   bool Line(int rowsDone)          after an end of line; false stops
// Pixels past the row's end are dropped; deltas that leave the image end the
// decoding.
template <class Sink>
TBMPRLEEnd BMPDecodeRLE(const std::uint8_t* data, std::size_t size, int bits, int width, int height, Sink& sink) {
  std::size_t i = 0;
  int r = height - 1, x = 0;
  sink.Row(r);
  auto put = [&](std::uint8_t v) { sink.Put(x++, v); };  // callers keep x < width
  while (i + 1 < size) {
    const std::uint8_t n = data[i], v = data[i + 1];
    i += 2;
    if (n > 0) {
      if (bits == 8) {
        for (int k = 0; k < n && x < width; ++k) put(v);
      } else {
        const std::uint8_t pair[2] = {static_cast<std::uint8_t>(v >> 4), static_cast<std::uint8_t>(v & 15)};
        for (int k = 0; k < n && x < width; ++k) put(pair[k & 1]);
      }
      continue;  // pixels past the row's end were dropped
    }
    switch (v) {
      case 0:  // end of line
        if (--r < 0) return TBMPRLEEnd::RowsDone;
        x = 0;
        sink.Row(r);
        if (!sink.Line(height - r)) return TBMPRLEEnd::Stopped;
        break;
      case 1:
        return TBMPRLEEnd::EndCode;
      case 2: {  // delta
        if (i + 1 >= size) return TBMPRLEEnd::DataEnd;
        const int dx = data[i], dy = data[i + 1];
        i += 2;
        x = std::min(width, x + dx);
        if (dy > 0) {
          r -= dy;
          if (r < 0) return TBMPRLEEnd::RowsDone;
          sink.Row(r);
        }
        break;
      }
      default: {  // absolute run of v pixels
        const std::size_t bytes = bits == 8 ? v : (v + 1u) / 2u;
        const std::size_t have = std::min<std::size_t>(bytes, size - i);
        if (bits == 8) {
          for (std::size_t k = 0; k < have && x < width; ++k) put(data[i + k]);
        } else {
          for (std::size_t k = 0; k < static_cast<std::size_t>(v) && k / 2 < have && x < width; ++k)
            put(static_cast<std::uint8_t>((k & 1) ? (data[i + k / 2] & 15) : (data[i + k / 2] >> 4)));
        }
        if (have < bytes) return TBMPRLEEnd::DataEnd;
        i += bytes + (bytes & 1u);
        break;
      }
    }
  }
  return TBMPRLEEnd::DataEnd;
}

}  // namespace pravik
