// Netpbm reader and writer (PBM, PGM, PPM; plain and binary).
#include "codecs/bitmap/pxm.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/convert.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/reader.h"
#include "imageio/stream.h"

namespace pravik {
namespace {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using i64 = std::int64_t;

// ---- tokens --------------------------------------------------------------------------------
// A token is a run of letters and digits; anything else separates tokens. A
// "#" where a token would start, or right after one, opens a comment that runs
// to the end of the line.

constexpr std::array<bool, 256> MakeAlnum() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = true;
  return t;
}
constexpr std::array<bool, 256> kAlnum = MakeAlnum();

bool IsDigit(u8 c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

// Tokens longer than this are neither a magic nor a usable number.
constexpr std::size_t kMaxTokenChars = 32;
// Header numbers saturate here: far above any size or maxval we accept.
constexpr i64 kNumberCap = i64(1) << 40;
// Content detection looks at no more than this much of a stream.
constexpr i64 kTryBytes = i64(1) << 20;
constexpr int kTryItems = 501;

// Reads the rest of a comment whose "#" was just read, through the line end.
// Its text, trimmed of blanks, is added to comments when given.
void ReadComment(TIEReader& r, std::vector<std::string>* comments) {
  std::string text;
  while (!r.AtEnd()) {
    const u8 c = r.U8();
    if (c == '\n' || c == '\r') break;
    if (comments != nullptr) text.push_back(static_cast<char>(c));
  }
  if (comments == nullptr) return;
  std::size_t first = 0, last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  comments->push_back(text.substr(first, last - first));
}

class Tokenizer {
 public:
  Tokenizer(TIEReader& r, std::vector<std::string>* comments) : r_(r), comments_(comments) {}

  // The next token, or false at the end of the stream. The character that
  // ends a token is consumed with it.
  bool Next(std::string& token) {
    while (!r_.AtEnd()) {
      const u8 c = r_.U8();
      if (c == '#') {
        ++items_;
        ReadComment(r_, comments_);
        continue;
      }
      if (!kAlnum[c]) continue;
      ++items_;
      token.assign(1, static_cast<char>(c));
      bool tooLong = false;
      while (!r_.AtEnd()) {
        const u8 d = r_.U8();
        if (!kAlnum[d]) {
          if (d == '#') {
            ++items_;
            ReadComment(r_, comments_);
          }
          break;
        }
        if (token.size() < kMaxTokenChars) token.push_back(static_cast<char>(d));
        else tooLong = true;
      }
      if (tooLong) token.assign(1, '?');
      return true;
    }
    return false;
  }

  // Tokens and comments read so far.
  int Items() const { return items_; }

 private:
  TIEReader& r_;
  std::vector<std::string>* comments_;
  int items_ = 0;
};

// A run of digits as a number (saturating); -1 for anything else.
i64 ParseNumber(const std::string& token) {
  if (token.empty()) return -1;
  i64 v = 0;
  for (const char ch : token) {
    if (!IsDigit(static_cast<u8>(ch))) return -1;
    v = std::min(v * 10 + (ch - '0'), kNumberCap);
  }
  return v;
}

// "P1".."P6" as 1..6; 0 for anything else.
int ParseMagic(const std::string& token) {
  return token.size() == 2 && token[0] == 'P' && token[1] >= '1' && token[1] <= '6' ? token[1] - '0' : 0;
}

struct Header {
  int magic = 0;  // 1..6
  i64 width = -1, height = -1, maxval = -1;
};

// Reads the header tokens; false when the first token is no magic.
bool ReadHeader(TIEReader& r, std::vector<std::string>* comments, Header& h) {
  Tokenizer tok(r, comments);
  std::string t;
  if (!tok.Next(t) || (h.magic = ParseMagic(t)) == 0) return false;
  auto number = [&]() { return tok.Next(t) ? ParseNumber(t) : -1; };
  h.width = number();
  h.height = number();
  h.maxval = (h.magic == 1 || h.magic == 4) ? 1 : number();
  return true;
}

// ---- samples -------------------------------------------------------------------------------

// Sample scaling, by table: values above maxval count as maxval.
//   to 8 bits:  trunc(v * 255 / maxval), except that binary words of maxval
//               65535 keep their high byte
//   to 16 bits: maxval 65535 as is, others rounded to the full 0..65535 range
class SampleMap {
 public:
  enum Kind : u8 { Bytes, HighBytes, Words };
  SampleMap(std::uint32_t maxval, Kind kind) : maxval_(maxval) {
    if (kind == Words) {
      to16_.resize(maxval + 1);
      for (std::uint32_t v = 0; v <= maxval; ++v)
        to16_[v] = static_cast<u16>(maxval == 65535 ? v : (std::uint64_t(v) * 65535 + maxval / 2) / maxval);
    } else {
      to8_.resize(maxval + 1);
      for (std::uint32_t v = 0; v <= maxval; ++v)
        to8_[v] = static_cast<u8>(kind == HighBytes && maxval == 65535 ? v >> 8 : std::uint64_t(v) * 255 / maxval);
    }
  }
  u8 Byte(std::uint32_t v) const { return to8_[std::min(v, maxval_)]; }
  u16 Word(std::uint32_t v) const { return to16_[std::min(v, maxval_)]; }

 private:
  std::uint32_t maxval_;
  std::vector<u8> to8_;
  std::vector<u16> to16_;
};

void PutWord(u8* p, u16 v) { std::memcpy(p, &v, 2); }
u16 GetWord(const u8* p) {
  u16 v;
  std::memcpy(&v, p, 2);
  return v;
}

// Stores count samples (whole pixels of `channels` samples) into an image row.
template <class Sample>
void StoreRow(const Sample* s, i64 count, int channels, const SampleMap& map, TIEPixelFormat pf, u8* row) {
  switch (pf) {
    case ie24RGB:
      if (channels == 1) {
        for (i64 i = 0; i < count; ++i) row[3 * i] = row[3 * i + 1] = row[3 * i + 2] = map.Byte(s[i]);
      } else {
        for (i64 i = 0; i < count; i += 3) {  // file order red, green, blue; TRGB is blue, green, red
          row[i] = map.Byte(s[i + 2]);
          row[i + 1] = map.Byte(s[i + 1]);
          row[i + 2] = map.Byte(s[i]);
        }
      }
      return;
    case ie16g:
    case ie48RGB:  // TRGB48 keeps the file's order: red, green, blue
      for (i64 i = 0; i < count; ++i) PutWord(row + 2 * i, map.Word(s[i]));
      return;
    default:
      return;
  }
}

// ---- plain rasters -------------------------------------------------------------------------

enum class Got : u8 { Value, End, Garbage };

// The next number of a plain raster (saturating at 65535: maxval clamps it
// anyway). Separators and comments are skipped; letters are garbage.
Got NextSample(TIEReader& r, u16& value) {
  while (!r.AtEnd()) {
    u8 c = r.U8();
    if (c == '#') {
      ReadComment(r, nullptr);
      continue;
    }
    if (!kAlnum[c]) continue;
    if (!IsDigit(c)) return Got::Garbage;
    std::uint32_t n = c - '0';
    while (!r.AtEnd()) {
      c = r.U8();
      if (IsDigit(c)) {
        n = std::min<std::uint32_t>(n * 10 + (c - '0'), 65535);
        continue;
      }
      if (kAlnum[c]) return Got::Garbage;
      if (c == '#') ReadComment(r, nullptr);
      break;
    }
    value = static_cast<u16>(n);
    return Got::Value;
  }
  return Got::End;
}

// ---- decoding ------------------------------------------------------------------------------

enum class Outcome : u8 { Done, Truncated, Garbage, Stopped };

struct Decode {
  TIEReader& r;
  TIEBitmap& bitmap;
  TProgressRec& progress;
  int width, height, channels;
  std::uint32_t maxval;

  // After each row: progress, and the user's stop.
  bool RowDone(int y) {
    progress.ReportDone(y + 1);
    return !progress.Aborted();
  }

  // P1: "0" is white (a 1 bit in ie1g), "1" black.
  Outcome PlainBits() {
    for (int y = 0; y < height; ++y) {
      u8* row = bitmap.GetScanLine(y);
      for (int x = 0; x < width;) {
        if (r.AtEnd()) return Outcome::Truncated;
        const u8 c = r.U8();
        if (c == '0' || c == '1') {
          if (c == '0') row[x >> 3] |= static_cast<u8>(0x80 >> (x & 7));
          ++x;
        } else if (c == '#') {
          ReadComment(r, nullptr);
        } else if (kAlnum[c]) {
          return Outcome::Garbage;
        }
      }
      if (!RowDone(y)) return Outcome::Stopped;
    }
    return Outcome::Done;
  }

  // P2, P3: pixel by pixel, so that no scratch grows with the width.
  Outcome PlainSamples(const SampleMap& map) {
    const TIEPixelFormat pf = bitmap.GetPixelFormat();
    const i64 outBytes = IEPixelFormatBits[pf] / 8;
    u16 s[3];
    for (int y = 0; y < height; ++y) {
      u8* row = bitmap.GetScanLine(y);
      for (i64 x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
          const Got got = NextSample(r, s[c]);
          if (got == Got::End) return Outcome::Truncated;  // a split pixel is dropped
          if (got == Got::Garbage) return Outcome::Garbage;
        }
        StoreRow(s, channels, channels, map, pf, row + x * outBytes);
      }
      if (!RowDone(y)) return Outcome::Stopped;
    }
    return Outcome::Done;
  }

  // P4: rows of bits, 1 black; ie1g has 1 white.
  Outcome BinaryBits() {
    const i64 rowBytes = (i64(width) + 7) / 8;
    for (int y = 0; y < height; ++y) {
      u8* row = bitmap.GetScanLine(y);
      const i64 got = r.ReadSome(row, rowBytes);
      for (i64 i = 0; i < got; ++i) row[i] = static_cast<u8>(~row[i]);
      if (got < rowBytes) {
        std::memset(row + got, 0, static_cast<std::size_t>(rowBytes - got));
        return Outcome::Truncated;
      }
      if (!RowDone(y)) return Outcome::Stopped;
    }
    return Outcome::Done;
  }

  // P6 with maxval 255: rows go straight into the image, then red and blue swap.
  Outcome BinaryRGB8() {
    const i64 rowBytes = i64(width) * 3;
    for (int y = 0; y < height; ++y) {
      u8* row = bitmap.GetScanLine(y);
      const i64 got = r.ReadSome(row, rowBytes);
      const i64 whole = got / 3;
      _BGR2RGB(row, static_cast<int>(whole));
      if (got < rowBytes) {
        std::memset(row + whole * 3, 0, static_cast<std::size_t>(got - whole * 3));  // a split pixel is dropped
        return Outcome::Truncated;
      }
      if (!RowDone(y)) return Outcome::Stopped;
    }
    return Outcome::Done;
  }

  // P5, P6: one byte per sample (maxval below 256) or a big-endian word. Rows
  // are taken a bounded chunk at a time.
  Outcome BinarySamples(const SampleMap& map) {
    constexpr i64 kChunkPixels = 4096;
    const TIEPixelFormat pf = bitmap.GetPixelFormat();
    const i64 outBytes = IEPixelFormatBits[pf] / 8;
    const int sampleBytes = maxval > 255 ? 2 : 1;
    const i64 pixelBytes = i64(channels) * sampleBytes;
    std::vector<u8> in(static_cast<std::size_t>(kChunkPixels * pixelBytes));
    std::vector<u16> words(sampleBytes == 2 ? static_cast<std::size_t>(kChunkPixels * channels) : 0);
    for (int y = 0; y < height; ++y) {
      u8* row = bitmap.GetScanLine(y);
      for (i64 x = 0; x < width; x += kChunkPixels) {
        const i64 want = std::min<i64>(kChunkPixels, width - x) * pixelBytes;
        const i64 got = r.ReadSome(in.data(), want);
        const i64 samples = got / pixelBytes * channels;  // a split pixel is dropped
        if (sampleBytes == 1) {
          StoreRow(in.data(), samples, channels, map, pf, row + x * outBytes);
        } else {
          for (i64 i = 0; i < samples; ++i) words[i] = static_cast<u16>((in[2 * i] << 8) | in[2 * i + 1]);
          StoreRow(words.data(), samples, channels, map, pf, row + x * outBytes);
        }
        if (got < want) return Outcome::Truncated;
      }
      if (!RowDone(y)) return Outcome::Stopped;
    }
    return Outcome::Done;
  }
};

// The fewest bytes a complete raster of this header takes in the file.
i64 RasterBytes(const Header& h) {
  const i64 pixels = h.width * h.height;  // both below 2^31: no overflow
  const i64 sampleBytes = h.maxval > 255 ? 2 : 1;
  i64 n = 0;
  switch (h.magic) {
    case 1: return pixels;                                    // "0" or "1", no separators needed
    case 2: return IECheckedMul(pixels, 2, n) ? n - 1 : -1;   // a digit and a separator each
    case 3: return IECheckedMul(pixels, 6, n) ? n - 1 : -1;
    case 4: return (h.width + 7) / 8 * h.height;
    case 5: return IECheckedMul(pixels, sampleBytes, n) ? n : -1;
    case 6: return IECheckedMul3(pixels, 3, sampleBytes, n) ? n : -1;
    default: return -1;
  }
}

// A file shorter than its raster still loads what it holds (the rest zero,
// the load reported as failed), but a few header bytes must not make us
// allocate far more than the file could ever fill.
bool WorthAllocating(i64 decodedBytes, i64 rasterBytes, i64 available) {
  constexpr i64 kAlwaysAllowed = i64(16) << 20;
  if (rasterBytes >= 0 && available >= rasterBytes) return true;
  return decodedBytes <= kAlwaysAllowed || available >= decodedBytes / 16;
}

// ---- writing -------------------------------------------------------------------------------

enum class Variant : u8 { Bits, Grey8, RGB16, RGB8 };

void PutBE(u8* p, u16 v) {
  p[0] = static_cast<u8>(v >> 8);
  p[1] = static_cast<u8>(v);
}

std::string HeaderText(Variant v, int width, int height, const std::vector<std::string>& comments) {
  static constexpr char kMagic[] = {'4', '5', '6', '6'};
  static constexpr const char* kMaxval[] = {"", "255", "65535", "255"};
  std::string s = std::string("P") + kMagic[static_cast<int>(v)] + " ";
  for (const std::string& entry : comments) {
    // One comment line per line of the entry: a line break inside it would
    // end the comment and corrupt the header.
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = entry.find_first_of("\r\n", start);
      s += "\n# " + entry.substr(start, end == std::string::npos ? std::string::npos : end - start) + "\n";
      if (end == std::string::npos) break;
      start = end + 1;
      if (entry[end] == '\r' && start < entry.size() && entry[start] == '\n') ++start;
    }
  }
  s += std::to_string(width) + " " + std::to_string(height);
  if (v != Variant::Bits) s += std::string(" ") + kMaxval[static_cast<int>(v)];
  s += "\n";
  return s;
}

}  // namespace

// ---- content test --------------------------------------------------------------------------

bool TryPXM(TStream& stream) {
  const i64 start = stream.GetPosition();
  if (start < 0) return false;
  bool result = false;
  {
    TIEReader r(stream, kTryBytes, 4096);
    Tokenizer tok(r, nullptr);
    std::string t;
    if (tok.Next(t) && ParseMagic(t) != 0 && tok.Next(t) && ParseNumber(t) > 0 && tok.Next(t) &&
        ParseNumber(t) > 0)
      result = tok.Items() <= kTryItems;
  }
  stream.Seek(start, soBeginning);
  return result;
}

// ---- reading -------------------------------------------------------------------------------

void PXMReadStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool preview, TProgressRec& progress) {
  params.PXM_COMMENTS.clear();
  TIEReader r(stream);
  Header h;
  if (!ReadHeader(r, &params.PXM_COMMENTS, h)) return progress.Fail("not a Netpbm file");
  if (h.width <= 0 || h.height <= 0) return progress.Fail("bad image size");
  if (h.width > std::numeric_limits<int>::max() || h.height > std::numeric_limits<int>::max())
    return progress.Fail("image too large");
  if (h.maxval < 1 || h.maxval > 65535) return progress.Fail("bad maxval");

  const bool bits = h.magic == 1 || h.magic == 4;
  const bool plain = h.magic <= 3;
  const bool colour = h.magic == 3 || h.magic == 6;
  // Binary samples above 8 bits are words; plain ones are always scaled to bytes.
  const bool words = !plain && h.maxval > 255;
  const bool native = words && params.ISNATIVEPIXELFORMAT;
  const TIEPixelFormat pf = bits ? ie1g : native ? (colour ? ie48RGB : ie16g) : ie24RGB;

  params.FreeColorMap();
  params.WIDTH = params.ORIGINALWIDTH = static_cast<int>(h.width);
  params.HEIGHT = params.ORIGINALHEIGHT = static_cast<int>(h.height);
  params.SetDpiX(gDefaultDPIX);
  params.SetDpiY(gDefaultDPIY);
  params.BITSPERSAMPLE = bits ? 1 : words ? 16 : 8;
  params.SAMPLESPERPIXEL = colour ? 3 : 1;
  if (preview) return;

  if (!IEImageSizeAllowed(h.width, h.height, IEPixelFormatBits[pf])) return progress.Fail("image too large");
  const i64 decoded = IEBitmapRowLen(h.width, IEPixelFormatBits[pf], 32) * h.height;
  if (!WorthAllocating(decoded, RasterBytes(h), r.Remaining()))
    return progress.Fail("the file is too short for its image size");
  bitmap.FreeImage(true);  // a fresh, zero-filled buffer: rows not reached stay 0
  if (!bitmap.Allocate(static_cast<int>(h.width), static_cast<int>(h.height), pf))
    return progress.Fail("not enough memory for the image");

  progress.PerCentFactor = 100.0 / static_cast<double>(h.height);
  Decode d{r, bitmap, progress, static_cast<int>(h.width), static_cast<int>(h.height), colour ? 3 : 1,
           static_cast<std::uint32_t>(h.maxval)};
  Outcome outcome;
  if (h.magic == 1) {
    outcome = d.PlainBits();
  } else if (h.magic == 4) {
    outcome = d.BinaryBits();
  } else if (h.magic == 6 && h.maxval == 255) {
    outcome = d.BinaryRGB8();
  } else {
    const SampleMap map(d.maxval, native ? SampleMap::Words : words ? SampleMap::HighBytes : SampleMap::Bytes);
    outcome = plain ? d.PlainSamples(map) : d.BinarySamples(map);
  }
  if (outcome == Outcome::Truncated) progress.Fail("truncated data");
  if (outcome == Outcome::Garbage) progress.Fail("bad sample in the raster");
}

void PXMFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview) {
  if (!preview) bitmap.RemoveAlphaChannel();
  PXMReadStream(stream, bitmap, params, preview, progress);
}

// ---- writing -------------------------------------------------------------------------------

void PXMWriteStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress) {
  if (bitmap.IsEmpty()) return progress.Fail("there is no image to save");
  const int width = bitmap.GetWidth(), height = bitmap.GetHeight();
  const int bps = params.BITSPERSAMPLE, spp = params.SAMPLESPERPIXEL;
  const TIEPixelFormat source = bitmap.GetPixelFormat();

  // A two-level or grey request (what a 1-bit or palette source's reader
  // leaves) is honoured only where the image is black and white, or grey: a
  // colour image would lose its colours, so it goes out as P6.
  std::unique_ptr<TIEBitmap> blackWhite;
  bool bits = source == ie1g;
  if (!bits && bps == 1 && spp == 1) {
    TRGB dark, light;
    blackWhite = _ConvertTo1bitEx(bitmap, dark, light);
    bits = blackWhite && dark == TRGB{0, 0, 0} && light == TRGB{255, 255, 255};
    if (!bits) blackWhite.reset();
  }
  const bool greyFormat = source == ie8g || source == ie16g;
  const bool grey = !bits && (bps == 1 || bps == 8) && spp == 1 && (greyFormat || bitmap.IsGrayScale());

  // The rows written come from ie1g, ie24RGB or ie48RGB; anything else is
  // converted into a working copy (the caller's image is left as it is).
  TIEBitmap copy;
  TIEBitmap* image = blackWhite ? blackWhite.get() : &bitmap;
  const TIEPixelFormat want = bits ? ie1g : (source == ie48RGB ? ie48RGB : ie24RGB);
  if (want != image->GetPixelFormat()) {
    copy.DefaultDitherMethod = bitmap.DefaultDitherMethod;
    if (!copy.Allocate(width, height, want)) return progress.Fail("not enough memory for the image");
    copy.CopyAndConvertFormat(bitmap);
    image = &copy;
  }
  const TIEPixelFormat pf = image->GetPixelFormat();

  Variant v = Variant::RGB8;
  if (bits) v = Variant::Bits;
  else if (grey) v = Variant::Grey8;
  else if ((bps == 16 && spp == 3) || pf == ie48RGB) v = Variant::RGB16;

  bool localAbort = false;
  bool& abortFlag = progress.AbortFlag != nullptr ? *progress.AbortFlag : localAbort;
  TIEWriter out(stream, abortFlag);
  out.Text(HeaderText(v, width, height, params.PXM_COMMENTS));

  static constexpr int kRowBytesPerPixel[] = {0, 1, 6, 3};
  const i64 rowBytes = v == Variant::Bits ? (i64(width) + 7) / 8 : i64(width) * kRowBytesPerPixel[static_cast<int>(v)];
  std::vector<u8> row(static_cast<std::size_t>(rowBytes));
  // Grey rows of an ie48RGB image go through a TRGB row.
  std::vector<u8> rgb(pf == ie48RGB && v == Variant::Grey8 ? static_cast<std::size_t>(width) * 3 : 0);
  u8* o = row.data();
  progress.PerCentFactor = 100.0 / height;
  for (int y = 0; y < height; ++y) {
    const u8* s = image->GetScanLine(y);
    switch (v) {
      case Variant::Bits:  // ie1g has 1 white, P4 1 black
        for (i64 i = 0; i < rowBytes; ++i) o[i] = static_cast<u8>(~s[i]);
        break;
      case Variant::Grey8:
        if (pf == ie48RGB) {
          IEDefaultConvertColorFunction(s, iecmsRGB48, rgb.data(), iecmsBGR, width, &params);
          s = rgb.data();
        }
        IEDefaultConvertColorFunction(s, iecmsBGR, o, iecmsGray8, width, &params);
        break;
      case Variant::RGB16:
        if (pf == ie48RGB) {
          for (i64 i = 0; i < i64(width) * 3; ++i) PutBE(o + 2 * i, GetWord(s + 2 * i));
        } else {
          for (int x = 0; x < width; ++x) {
            PutBE(o + 6 * x, static_cast<u16>(s[3 * x + 2] * 257));
            PutBE(o + 6 * x + 2, static_cast<u16>(s[3 * x + 1] * 257));
            PutBE(o + 6 * x + 4, static_cast<u16>(s[3 * x] * 257));
          }
        }
        break;
      case Variant::RGB8:
        _CopyBGR_RGB(o, s, width);
        break;
    }
    out.Write(o, rowBytes);
    progress.ReportDone(y + 1);
    if (abortFlag) break;  // a failed write or the user's stop
  }
}

}  // namespace pravik
