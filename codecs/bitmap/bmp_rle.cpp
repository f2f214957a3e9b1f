#include "codecs/bitmap/bmp_rle.h"

namespace pravik {

namespace {

// Literal pixels [from, to) in chunks of at most 255.
template <int Bits>
void FlushLiterals(const std::uint8_t* px, int from, int to, std::vector<std::uint8_t>& out) {
  while (from < to) {
    const int count = std::min(255, to - from);
    const std::uint8_t* p = px + from;
    if (count == 1) {
      out.push_back(1);
      out.push_back(Bits == 8 ? p[0] : static_cast<std::uint8_t>(p[0] << 4));
    } else if (count == 2) {
      if (Bits == 8) {
        out.insert(out.end(), {1, p[0], 1, p[1]});
      } else {
        out.push_back(2);
        out.push_back(static_cast<std::uint8_t>((p[0] << 4) | p[1]));
      }
    } else {
      out.push_back(0);
      out.push_back(static_cast<std::uint8_t>(count));
      int bytes;
      if (Bits == 8) {
        out.insert(out.end(), p, p + count);
        bytes = count;
      } else {
        for (int k = 0; k + 1 < count; k += 2) out.push_back(static_cast<std::uint8_t>((p[k] << 4) | p[k + 1]));
        if (count & 1) out.push_back(static_cast<std::uint8_t>(p[count - 1] << 4));
        bytes = (count + 1) / 2;
      }
      if (bytes & 1) out.push_back(0);
    }
    from += count;
  }
}

template <int Bits>
void EncodeRow(const std::uint8_t* px, int n, std::vector<std::uint8_t>& out) {
  int p = 0, literal = 0;
  while (p < n) {
    if (p - literal > 255) {
      FlushLiterals<Bits>(px, literal, p, out);
      literal = p;
    }
    if (p + 1 < n && px[p] == px[p + 1]) {
      FlushLiterals<Bits>(px, literal, p, out);
      int end = p + 1;
      while (end < n && px[end] == px[p] && end - p < 255) ++end;
      out.push_back(static_cast<std::uint8_t>(end - p));
      out.push_back(Bits == 8 ? px[p] : static_cast<std::uint8_t>((px[p] << 4) | px[p]));
      literal = p = end;
    } else {
      ++p;
    }
  }
  FlushLiterals<Bits>(px, literal, n, out);
  out.push_back(0);
  out.push_back(0);
}

}  // namespace

void BMPEncodeRLE8Row(const std::uint8_t* indexes, int n, std::vector<std::uint8_t>& out) {
  EncodeRow<8>(indexes, n, out);
}

void BMPEncodeRLE4Row(const std::uint8_t* indexes, int n, std::vector<std::uint8_t>& out) {
  EncodeRow<4>(indexes, n, out);
}

}  // namespace pravik
