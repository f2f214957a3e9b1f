// CMYK through the embedded press profile and lcms2's sRGB profile, with
// 16-bit channels. Created once, on the first conversion that wants it, and
// kept for the life of the process; the command line converts files on
// several threads, so creation goes through a function-local static.
#include <lcms2.h>
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "image/colour.h"

namespace pravik {

// Written at configure time (cmake/EmbedProfile.cmake); size 0 when the
// profile was not there.
extern const std::uint8_t IECMYKPROFILE[];
extern const std::size_t IECMYKPROFILE_SIZE;
extern const std::size_t IECMYKPROFILE_RAW_SIZE;

namespace {

// Pixels per cmsDoTransform call: big enough to amortise the call, small
// enough for the stack.
constexpr int kChunk = 1024;

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

class CMYKTransforms {
 public:
  CMYKTransforms() {
    if (IECMYKPROFILE_SIZE == 0 || IECMYKPROFILE_RAW_SIZE == 0) return;
    std::vector<std::uint8_t> raw(IECMYKPROFILE_RAW_SIZE);
    uLongf rawSize = static_cast<uLongf>(raw.size());
    if (uncompress(raw.data(), &rawSize, IECMYKPROFILE, static_cast<uLong>(IECMYKPROFILE_SIZE)) != Z_OK ||
        rawSize != raw.size())
      return;
    Profile cmyk(cmsOpenProfileFromMem(raw.data(), static_cast<cmsUInt32Number>(raw.size())));
    Profile srgb(cmsCreate_sRGBProfile());
    if (!cmyk || !srgb || cmsGetColorSpace(cmyk.get()) != cmsSigCmykData) return;
    // lcms2 keeps a private copy of the one-pixel cache per call, so one
    // transform may be used by several threads at once.
    toRGB_ = cmsCreateTransform(cmyk.get(), TYPE_CMYK_16, srgb.get(), TYPE_RGB_16, INTENT_PERCEPTUAL, 0);
    fromRGB_ = cmsCreateTransform(srgb.get(), TYPE_RGB_16, cmyk.get(), TYPE_CMYK_16, INTENT_PERCEPTUAL, 0);
    if (!toRGB_ || !fromRGB_) Release();
  }
  ~CMYKTransforms() { Release(); }
  CMYKTransforms(const CMYKTransforms&) = delete;
  CMYKTransforms& operator=(const CMYKTransforms&) = delete;

  bool Ok() const { return toRGB_ != nullptr && fromRGB_ != nullptr; }
  cmsHTRANSFORM ToRGB() const { return toRGB_; }
  cmsHTRANSFORM FromRGB() const { return fromRGB_; }

 private:
  void Release() {
    if (toRGB_) cmsDeleteTransform(toRGB_);
    if (fromRGB_) cmsDeleteTransform(fromRGB_);
    toRGB_ = fromRGB_ = nullptr;
  }
  cmsHTRANSFORM toRGB_ = nullptr;
  cmsHTRANSFORM fromRGB_ = nullptr;
};

const CMYKTransforms& Transforms() {
  static const CMYKTransforms transforms;
  return transforms;
}

}  // namespace

bool IECMYKProfileAvailable() { return Transforms().Ok(); }

bool IECMYKProfileToRGB(const TCMYK* src, TRGB* dst, int count) {
  const CMYKTransforms& t = Transforms();
  if (!t.Ok()) return false;
  std::uint16_t in[kChunk * 4], out[kChunk * 3];
  for (int done = 0; done < count;) {
    const int n = std::min(kChunk, count - done);
    // The whole chunk is read before any of it is written: src and dst may
    // share a buffer.
    for (int i = 0; i < n; ++i) {
      const TCMYK p = src[done + i];
      in[4 * i + 0] = static_cast<std::uint16_t>((255 - p.c) * 257);
      in[4 * i + 1] = static_cast<std::uint16_t>((255 - p.m) * 257);
      in[4 * i + 2] = static_cast<std::uint16_t>((255 - p.y) * 257);
      in[4 * i + 3] = static_cast<std::uint16_t>((255 - p.k) * 257);
    }
    cmsDoTransform(t.ToRGB(), in, out, static_cast<cmsUInt32Number>(n));
    for (int i = 0; i < n; ++i)
      dst[done + i] = CreateRGB(static_cast<std::uint8_t>(out[3 * i] >> 8), static_cast<std::uint8_t>(out[3 * i + 1] >> 8),
                                static_cast<std::uint8_t>(out[3 * i + 2] >> 8));
    done += n;
  }
  return true;
}

bool IECMYKProfileFromRGB(const TRGB* src, TCMYK* dst, int count) {
  const CMYKTransforms& t = Transforms();
  if (!t.Ok()) return false;
  std::uint16_t in[kChunk * 3], out[kChunk * 4];
  for (int done = 0; done < count;) {
    const int n = std::min(kChunk, count - done);
    for (int i = 0; i < n; ++i) {
      const TRGB p = src[done + i];
      in[3 * i + 0] = static_cast<std::uint16_t>(p.r * 257);
      in[3 * i + 1] = static_cast<std::uint16_t>(p.g * 257);
      in[3 * i + 2] = static_cast<std::uint16_t>(p.b * 257);
    }
    cmsDoTransform(t.FromRGB(), in, out, static_cast<cmsUInt32Number>(n));
    auto store = [](std::uint16_t ink) { return static_cast<std::uint8_t>((ink >> 8) ^ 255); };
    for (int i = 0; i < n; ++i)
      dst[done + i] = TCMYK{store(out[4 * i]), store(out[4 * i + 1]), store(out[4 * i + 2]), store(out[4 * i + 3])};
    done += n;
  }
  return true;
}

}  // namespace pravik
