// JPEG decoding: libjpeg decodes straight into the bitmap's rows (blue,
// green, red order through libjpeg-turbo's extended colour spaces); only CMYK
// into an RGB image and unusual component counts go through one row buffer.
#include <algorithm>
#include <cstring>
#include <memory>

#include "codecs/jpeg/jpeg.h"
#include "codecs/jpeg/jpeg_lib.h"
#include "codecs/jpeg/jpeg_private.h"
#include "image/bitmap.h"
#include "image/convert.h"
#include "imageio/limits.h"
#include "imageio/params.h"
#include "imageio/progress.h"
#include "imageio/stream.h"

namespace pravik {

using namespace jpegio;

namespace {

// How decoded rows reach the bitmap.
enum class RowPath : std::uint8_t {
  kDirect,       // libjpeg's output has the bitmap's layout
  kCMYKToRGB,    // CMYK samples through the CMYK conversion into ie24RGB
  kFirstToGrey,  // an unknown colour space: the first component as grey
};

struct ColourChoice {
  TIOJPEGColorspace Param;
  int Samples;
};

class JpegReader {
 public:
  JpegReader(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress)
      : stream_(stream), bitmap_(bitmap), params_(params), progress_(progress) {}

  int Run(TStream* tablesStream, bool headerOnly, bool rawYCbCr, bool invertCMYK, bool dropICCMarkers, int lines,
          bool nativePixelFormat);

 private:
  bool ReadHeader(TStream* tablesStream);
  void FillParams(bool rawYCbCr, bool nativePixelFormat);
  int Decode(bool invertCMYK, int lines, bool nativePixelFormat);
  void CollectMarkers(bool dropICCMarkers);
  bool Fail(const char* fallback);

  TStream& stream_;
  TIEBitmap& bitmap_;
  TIOParamsVals& params_;
  TProgressRec& progress_;
  Decompressor d_;
  bool started_ = false;
};

bool JpegReader::Fail(const char* fallback) {
  progress_.Fail(d_.err.message[0] != '\0' ? d_.err.message : fallback);
  return false;
}

bool JpegReader::ReadHeader(TStream* tablesStream) {
  if (!d_.Create()) return Fail("cannot start the JPEG decoder");
  jpeg_decompress_struct& c = d_.cinfo;
  if (tablesStream != nullptr && tablesStream != &stream_) {
    d_.AttachSource(*tablesStream);
    if (!JpegGuarded(d_.err, [&c] { jpeg_read_header(&c, FALSE); })) return Fail("bad JPEG tables");
  }
  d_.AttachSource(stream_);
  const bool ok = JpegGuarded(d_.err, [&c] {
    jpeg_save_markers(&c, JPEG_COM, 0xFFFF);
    for (int m = 0; m < 16; ++m) jpeg_save_markers(&c, JPEG_APP0 + m, 0xFFFF);
    jpeg_read_header(&c, TRUE);
  });
  if (!ok) return Fail("bad JPEG header");
  if (d_.src.emptyAtStart) return Fail("empty JPEG stream");
  return true;
}

void JpegReader::FillParams(bool rawYCbCr, bool nativePixelFormat) {
  jpeg_decompress_struct& c = d_.cinfo;
  params_.BITSPERSAMPLE = 8;
  // The file's colour space: how the record names it, its samples, and what
  // libjpeg is asked to deliver (blue-green-red rows straight into ie24RGB).
  static constexpr struct {
    J_COLOR_SPACE File;
    TIOJPEGColorspace Record;
    int Samples;
    J_COLOR_SPACE Out;
  } kSpaces[] = {
      {JCS_GRAYSCALE, ioJPEG_GRAYLEV, 1, JCS_EXT_BGR},  // libjpeg-turbo spreads grey to three channels itself
      {JCS_RGB, ioJPEG_RGB, 3, JCS_EXT_BGR},
      {JCS_YCbCr, ioJPEG_YCbCr, 3, JCS_EXT_BGR},
      {JCS_CMYK, ioJPEG_CMYK, 4, JCS_CMYK},
      {JCS_YCCK, ioJPEG_YCbCrK, 4, JCS_CMYK},
  };
  c.out_color_space = JCS_UNKNOWN;  // other spaces: the components as stored
  for (const auto& space : kSpaces)
    if (space.File == c.jpeg_color_space) {
      params_.JPEG_COLORSPACE = space.Record;
      params_.SAMPLESPERPIXEL = space.Samples;
      c.out_color_space = space.Out;
    }
  if (c.jpeg_color_space == JCS_GRAYSCALE && nativePixelFormat) c.out_color_space = JCS_GRAYSCALE;
  if (c.jpeg_color_space == JCS_YCbCr && rawYCbCr) c.out_color_space = JCS_YCbCr;
  c.dct_method = JpegDctMethod(params_.JPEG_DCTMETHOD);

  // Resolution: unit 0 gives the aspect numbers (usually 1 x 1; the front
  // replaces values below 2 with its default), unit 2 dots per centimetre.
  if (c.density_unit == 2) {
    params_.SetDpiX(static_cast<int>(c.X_density * 2.54));
    params_.SetDpiY(static_cast<int>(c.Y_density * 2.54));
  } else {
    params_.SetDpiX(c.X_density);
    params_.SetDpiY(c.Y_density);
  }

  params_.FreeColorMap();
  params_.JPEG_PROGRESSIVE = c.progressive_mode != 0;
  params_.ORIGINALWIDTH = static_cast<std::int32_t>(c.image_width);
  params_.ORIGINALHEIGHT = static_cast<std::int32_t>(c.image_height);

  int denom = 1;
  switch (params_.JPEG_SCALE) {
    case ioJPEG_HALF: denom = 2; break;
    case ioJPEG_QUARTER: denom = 4; break;
    case ioJPEG_EIGHTH: denom = 8; break;
    case ioJPEG_AUTOCALC:
      if (params_.WIDTH > 0 && params_.HEIGHT > 0) {
        for (int d : {8, 4, 2, 1}) {
          if (static_cast<std::int64_t>(c.image_width / d) >= params_.WIDTH &&
              static_cast<std::int64_t>(c.image_height / d) >= params_.HEIGHT) {
            denom = d;
            break;
          }
        }
      }
      break;
    default: break;
  }
  c.scale_num = 1;
  c.scale_denom = static_cast<unsigned>(denom);
  params_.JPEG_SCALE_USED = denom;
}

int JpegReader::Decode(bool invertCMYK, int lines, bool nativePixelFormat) {
  jpeg_decompress_struct& c = d_.cinfo;
  if (!JpegGuarded(d_.err, [&c] { jpeg_calc_output_dimensions(&c); })) return Fail("bad JPEG header"), 0;
  const int width = static_cast<int>(c.output_width), height = static_cast<int>(c.output_height);
  const int components = c.out_color_components;

  TIEPixelFormat format = ie24RGB;
  RowPath path = RowPath::kDirect;
  if (c.out_color_space == JCS_GRAYSCALE) {
    format = ie8g;
  } else if (c.out_color_space == JCS_CMYK) {
    if (nativePixelFormat) format = ieCMYK;
    else path = RowPath::kCMYKToRGB;
  } else if (c.out_color_space == JCS_UNKNOWN) {
    format = nativePixelFormat ? ie8g : ie24RGB;
    path = RowPath::kFirstToGrey;
  }
  // A header must not make us reserve more than the cap allows.
  if (!IEImageSizeAllowed(width, height, std::max(IEPixelFormatBits[format], 8 * components)))
    return Fail("JPEG image too large"), 0;
  // Huffman-coded data spends at least a bit on every 8 x 8 block of its first
  // scan, so a few hundred bytes cannot hold a huge image: refuse before the
  // pixels are reserved (arithmetic coding can be denser and is let through).
  const std::int64_t pixels = std::int64_t(c.image_width) * c.image_height;
  if (!c.arith_code && pixels > (std::int64_t(32) << 20) && stream_.GetSize() < pixels / 2048)
    return Fail("JPEG data far too short for the image size"), 0;

  if (!JpegGuarded(d_.err, [&c] { jpeg_start_decompress(&c); })) return Fail("bad JPEG data"), 0;
  started_ = true;
  params_.WIDTH = width;
  params_.HEIGHT = height;
  bitmap_.ForceReallocate = true;  // rows the decoder does not reach stay 0
  if (!bitmap_.Allocate(width, height, format)) return Fail("not enough memory for the JPEG image"), 0;

  std::unique_ptr<JSAMPLE[]> buffer;
  if (path != RowPath::kDirect) buffer = std::make_unique<JSAMPLE[]>(static_cast<std::size_t>(width) * components);
  const int wanted = lines < 0 ? height : std::min(lines, height);
  progress_.PerCentFactor = height > 0 ? 100.0 / height : 0.0;
  int lastPer = 0;
  int rows = 0;
  while (rows < wanted) {
    std::uint8_t* dest = bitmap_.GetScanLine(rows);
    JSAMPROW target = path == RowPath::kDirect ? dest : buffer.get();
    JDIMENSION got = 0;
    if (!JpegGuarded(d_.err, [&] { got = jpeg_read_scanlines(&c, &target, 1); }) || got != 1) {
      Fail("bad JPEG data");
      break;
    }
    switch (path) {
      case RowPath::kDirect:
        if (invertCMYK && format == ieCMYK)
          for (int i = 0; i < 4 * width; ++i) dest[i] = static_cast<std::uint8_t>(255 - dest[i]);
        break;
      case RowPath::kCMYKToRGB:
        if (invertCMYK)
          for (int i = 0; i < 4 * width; ++i) buffer[i] = static_cast<JSAMPLE>(255 - buffer[i]);
        IEConvertColorFunction(buffer.get(), iecmsCMYK, dest, iecmsBGR, width, &params_);
        break;
      case RowPath::kFirstToGrey:
        if (format == ie8g) {
          for (int x = 0; x < width; ++x) dest[x] = buffer[static_cast<std::size_t>(x) * components];
        } else {
          for (int x = 0; x < width; ++x) std::memset(dest + 3 * x, buffer[static_cast<std::size_t>(x) * components], 3);
        }
        break;
    }
    ++rows;
    const int per = static_cast<int>(rows * progress_.PerCentFactor);
    if (per != lastPer) {
      lastPer = per;
      progress_.Report(per);
    }
    if (progress_.Aborted()) break;
  }
  if (rows < wanted) {
    progress_.Fail("JPEG decoding stopped");
  } else if (d_.src.ranDry && d_.err.insufficientData) {
    // The data ended before the image did: what was there is kept, the rest
    // is libjpeg's flat fill, and the caller learns the file is incomplete.
    progress_.Fail("truncated JPEG data");
  }
  return rows;
}

void JpegReader::CollectMarkers(bool dropICCMarkers) {
  TIEMarkerList& list = params_.JPEG_MARKERLIST;
  list.Clear();
  bool firstAPP0 = true;
  for (jpeg_saved_marker_ptr m = d_.cinfo.marker_list; m != nullptr; m = m->next) {
    if (m->marker == JPEG_APP0 && firstAPP0) {
      firstAPP0 = false;
      // The JFIF header is the writer's own; any other APP0 is data we keep.
      if (m->data_length >= 5 && std::memcmp(m->data, "JFIF\0", 5) == 0) continue;
    }
    list.AddMarker(static_cast<std::uint8_t>(m->marker), m->data, static_cast<int>(m->data_length));
  }
  // A profile already applied to the pixels must not travel on with them.
  if (dropICCMarkers && params_.INPUTICC && params_.INPUTICC->Applied) {
    for (int i = list.GetCount() - 1; i >= 0; --i)
      if (list.GetMarkerType(i) == JPEG_APP0 + 2) list.DeleteMarker(i);
  }
}

int JpegReader::Run(TStream* tablesStream, bool headerOnly, bool rawYCbCr, bool invertCMYK, bool dropICCMarkers,
                    int lines, bool nativePixelFormat) {
  int rows = 0;
  if (ReadHeader(tablesStream)) {
    FillParams(rawYCbCr, nativePixelFormat);
    if (headerOnly) {
      params_.WIDTH = params_.ORIGINALWIDTH;
      params_.HEIGHT = params_.ORIGINALHEIGHT;
    } else {
      rows = Decode(invertCMYK, lines, nativePixelFormat);
    }
  }
  CollectMarkers(dropICCMarkers);
  if (started_ && !progress_.Aborted()) {
    jpeg_decompress_struct& c = d_.cinfo;
    const int warningsBefore = d_.err.warnings;
    // Reads on to the end marker; its complaints (a missing EOI, say) are
    // warnings at most and change nothing about the image.
    if (!JpegGuarded(d_.err, [&c] { jpeg_finish_decompress(&c); })) d_.err.warnings = warningsBefore;
  }
  if (d_.err.warnings > 0) {
    params_.JPEG_WARNINGTOT = d_.err.warnings;
    params_.JPEG_WARNINGCODE = d_.err.lastWarning;
  }
  return rows;
}

}  // namespace

J_DCT_METHOD jpegio::JpegDctMethod(TIOJPEGDctMethod method) {
  switch (method) {
    case ioJPEG_IFAST: return JDCT_IFAST;
    case ioJPEG_FLOAT: return JDCT_FLOAT;
    default: return JDCT_ISLOW;
  }
}

int ReadJPegStream(TStream& stream, TStream* tablesStream, TIEBitmap& bitmap, TIOParamsVals& params,
                   TProgressRec& progress, bool headerOnly, bool rawYCbCr, bool loadMetadata, bool invertCMYK,
                   bool dropICCMarkers, bool readICC, int lines, bool nativePixelFormat) {
  // The EXIF thumbnail mode comes with the EXIF support.
  params.JPEG_WARNINGTOT = 0;
  params.JPEG_WARNINGCODE = 0;
  const std::int64_t start = JpegTryStream(stream);
  if (start < 0) {
    progress.Fail("not a JPEG file");
    return 0;
  }
  stream.Seek(start, soBeginning);
  if (readICC) IEGetJpegICC(stream, params);

  int rows = 0;
  {
    JpegReader reader(stream, bitmap, params, progress);
    rows = reader.Run(tablesStream, headerOnly, rawYCbCr, invertCMYK, dropICCMarkers, lines, nativePixelFormat);
  }
  if (loadMetadata) JpegLoadMetadata(params);
  return rows;
}

}  // namespace pravik
