#include "imageio/params.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <unordered_map>

#include "image/resample.h"
#include "imageio/formats.h"
#include "imageio/registry.h"

namespace pravik {

int gDefaultDPIX = 300;
int gDefaultDPIY = 300;

// ---- field lists shared by ResetEXIF and the property table ---------------------------

#define PRAVIK_EXIF_TEXTS(X)                                                                                    \
  X(EXIF_IMAGEDESCRIPTION)                                                                                    \
  X(EXIF_MAKE) X(EXIF_MODEL) X(EXIF_SOFTWARE) X(EXIF_ARTIST) X(EXIF_DATETIME) X(EXIF_COPYRIGHT)                \
      X(EXIF_EXIFVERSION) X(EXIF_DATETIMEORIGINAL) X(EXIF_DATETIMEDIGITIZED) X(EXIF_SUBSECTIME)                \
          X(EXIF_SUBSECTIMEORIGINAL) X(EXIF_SUBSECTIMEDIGITIZED) X(EXIF_FLASHPIXVERSION)                       \
              X(EXIF_RELATEDSOUNDFILE) X(EXIF_USERCOMMENT) X(EXIF_USERCOMMENTCODE) X(EXIF_IMAGEUNIQUEID)       \
                  X(EXIF_XPTITLE) X(EXIF_XPCOMMENT) X(EXIF_XPAUTHOR) X(EXIF_XPKEYWORDS) X(EXIF_XPSUBJECT)      \
                      X(EXIF_GPSVERSIONID) X(EXIF_GPSLATITUDEREF) X(EXIF_GPSLONGITUDEREF) X(EXIF_GPSALTITUDEREF) \
                          X(EXIF_GPSSATELLITES) X(EXIF_GPSSTATUS) X(EXIF_GPSMEASUREMODE) X(EXIF_GPSSPEEDREF)   \
                              X(EXIF_GPSTRACKREF) X(EXIF_GPSIMGDIRECTIONREF) X(EXIF_GPSMAPDATUM)               \
                                  X(EXIF_GPSDESTLATITUDEREF) X(EXIF_GPSDESTLONGITUDEREF)                       \
                                      X(EXIF_GPSDESTBEARINGREF) X(EXIF_GPSDESTDISTANCEREF) X(EXIF_GPSDATESTAMP)

#define PRAVIK_EXIF_INTS(X)                                                                                   \
  X(EXIF_RESOLUTIONUNIT)                                                                                    \
  X(EXIF_EXPOSUREPROGRAM) X(EXIF_METERINGMODE) X(EXIF_LIGHTSOURCE) X(EXIF_FLASH) X(EXIF_COLORSPACE)          \
      X(EXIF_EXIFIMAGEWIDTH) X(EXIF_EXIFIMAGEHEIGHT) X(EXIF_FOCALPLANERESOLUTIONUNIT) X(EXIF_SENSINGMETHOD)   \
          X(EXIF_FILESOURCE) X(EXIF_SCENETYPE) X(EXIF_YCBCRPOSITIONING) X(EXIF_EXPOSUREMODE)                 \
              X(EXIF_WHITEBALANCE) X(EXIF_FOCALLENGTHIN35MMFILM) X(EXIF_SCENECAPTURETYPE) X(EXIF_GAINCONTROL) \
                  X(EXIF_CONTRAST) X(EXIF_SATURATION) X(EXIF_SHARPNESS) X(EXIF_SUBJECTDISTANCERANGE)

#define PRAVIK_EXIF_DOUBLES(X)                                                                                  \
  X(EXIF_EXPOSURETIME)                                                                                        \
  X(EXIF_FNUMBER) X(EXIF_COMPRESSEDBITSPERPIXEL) X(EXIF_SHUTTERSPEEDVALUE) X(EXIF_APERTUREVALUE)               \
      X(EXIF_BRIGHTNESSVALUE) X(EXIF_EXPOSUREBIASVALUE) X(EXIF_MAXAPERTUREVALUE) X(EXIF_SUBJECTDISTANCE)       \
          X(EXIF_FOCALLENGTH) X(EXIF_FOCALPLANEXRESOLUTION) X(EXIF_FOCALPLANEYRESOLUTION) X(EXIF_EXPOSUREINDEX) \
              X(EXIF_DIGITALZOOMRATIO) X(EXIF_GPSLATITUDEDEGREES) X(EXIF_GPSLATITUDEMINUTES)                   \
                  X(EXIF_GPSLATITUDESECONDS) X(EXIF_GPSLONGITUDEDEGREES) X(EXIF_GPSLONGITUDEMINUTES)           \
                      X(EXIF_GPSLONGITUDESECONDS) X(EXIF_GPSALTITUDE) X(EXIF_GPSTIMESTAMPHOUR)                 \
                          X(EXIF_GPSTIMESTAMPMINUTE) X(EXIF_GPSTIMESTAMPSECOND) X(EXIF_GPSDOP) X(EXIF_GPSSPEED) \
                              X(EXIF_GPSTRACK) X(EXIF_GPSIMGDIRECTION) X(EXIF_GPSDESTLATITUDEDEGREES)          \
                                  X(EXIF_GPSDESTLATITUDEMINUTES) X(EXIF_GPSDESTLATITUDESECONDS)                \
                                      X(EXIF_GPSDESTLONGITUDEDEGREES) X(EXIF_GPSDESTLONGITUDEMINUTES)          \
                                          X(EXIF_GPSDESTLONGITUDESECONDS) X(EXIF_GPSDESTBEARING)               \
                                              X(EXIF_GPSDESTDISTANCE)

// EXIF_XPRATING defaults to -1 and falls back to -1 when set from bad text.
#define PRAVIK_EXIF_ARRAYS(X) \
  X(EXIF_ISOSPEEDRATINGS) X(EXIF_WHITEPOINT) X(EXIF_PRIMARYCHROMATICITIES) X(EXIF_YCBCRCOEFFICIENTS) X(EXIF_REFERENCEBLACKWHITE)

// ---- dates ---------------------------------------------------------------------------------

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kDelphiEpochFromUnix = 25569;  // 1899-12-30 .. 1970-01-01

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

}  // namespace

double IEEncodeDate(int year, int month, int day) {
  return static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                             kDelphiEpochFromUnix);
}

bool IEDecodeDate(double date, int& year, int& month, int& day) {
  if (!std::isfinite(date) || std::fabs(date) > 3.0e6) return false;
  std::int64_t z = static_cast<std::int64_t>(std::floor(date)) - kDelphiEpochFromUnix + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
  return true;
}

double IENow() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  return IEEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// ---- text conversions of the property interface -----------------------------------------------

namespace {

constexpr const char* kInvalidProperty = "INVALID PROPERTY";

std::string StripControl(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 32 && u != 127) out.push_back(c);
  }
  return out;
}

std::string NormaliseKey(std::string_view key) {
  std::string k = StripControl(key);
  for (char& c : k)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return k;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool ParseInt(std::string_view s, std::int32_t& out) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  std::int32_t v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (ec != std::errc() || ptr != s.data() + s.size()) return false;
  out = v;
  return true;
}

std::int32_t IntOr(std::string_view s, std::int32_t fallback) {
  std::int32_t v;
  return ParseInt(s, v) ? v : fallback;
}

bool ParseDoubleExact(std::string_view s, double& out) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// Accepts "." or "," as the decimal separator whatever the locale.
double DoubleOr0(std::string_view s) {
  double v;
  if (ParseDoubleExact(s, v)) return v;
  std::string alt(s);
  if (const auto comma = alt.find(','); comma != std::string::npos) {
    alt[comma] = '.';
  } else if (const auto dot = alt.find('.'); dot != std::string::npos) {
    alt[dot] = ',';
  }
  if (ParseDoubleExact(alt, v)) return v;
  return 0.0;
}

std::string DoubleText(double v) {
  char buf[64];
  const auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, v);
  std::string s(buf, ec == std::errc() ? ptr : buf);
  std::replace(s.begin(), s.end(), ',', '.');
  return s;
}

bool BoolOf(std::string_view s) {
  std::string u = NormaliseKey(s);
  return u == "1" || u == "TRUE" || u == "T";
}

std::string ColourText(TRGB c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

TRGB ColourOf(std::string_view s) {
  std::uint8_t parts[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    const std::size_t comma = s.find(',');
    const std::string_view part = s.substr(0, comma);
    std::int32_t v;
    if (ParseInt(part, v) && v >= 0 && v <= 255) parts[i] = static_cast<std::uint8_t>(v);
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  return CreateRGB(parts[0], parts[1], parts[2]);
}

std::string DateText(double date) {
  int y, m, d;
  if (!IEDecodeDate(date, y, m, d)) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

// "YYYY-MM-DD" (or with "/" or "."); false when it is not a date.
bool DateOf(std::string_view s, double& out) {
  s = Trim(s);
  int parts[3];
  for (int i = 0; i < 3; ++i) {
    const std::size_t sep = i < 2 ? s.find_first_of("-/.") : std::string_view::npos;
    if (i < 2 && sep == std::string_view::npos) return false;
    std::int32_t v;
    if (!ParseInt(s.substr(0, sep), v)) return false;
    parts[i] = v;
    if (i < 2) s.remove_prefix(sep + 1);
  }
  const int y = parts[0], m = parts[1], d = parts[2];
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1 || d > DaysInMonth(y, m)) return false;
  out = IEEncodeDate(y, m, d);
  return true;
}

}  // namespace

// ---- the property table ------------------------------------------------------------------------

using PropGet = std::string (*)(const TIOParamsVals&);
using PropSet = void (*)(TIOParamsVals&, std::string_view);
struct Prop {
  const char* Key;
  PropGet Get;
  PropSet Set;
};

struct IOParamsAccess {
  using P = TIOParamsVals;

  template <auto M, int Fallback = 0>
  static Prop Int(const char* key) {
    return {key, [](const P& p) { return std::to_string(p.*M); },
            [](P& p, std::string_view v) { p.*M = IntOr(v, Fallback); }};
  }
  template <auto M, int Fallback = 0>
  static Prop Enum(const char* key) {
    return {key, [](const P& p) { return std::to_string(static_cast<int>(p.*M)); },
            [](P& p, std::string_view v) {
              std::int32_t n = IntOr(v, Fallback);
              if (n < 0 || n > 255) n = Fallback;  // stored in one byte
              p.*M = static_cast<std::remove_reference_t<decltype(p.*M)>>(n);
            }};
  }
  template <auto M>
  static Prop Bool(const char* key) {
    return {key, [](const P& p) { return std::string(p.*M ? "1" : "0"); },
            [](P& p, std::string_view v) { p.*M = BoolOf(v); }};
  }
  template <auto M>
  static Prop Text(const char* key) {
    return {key, [](const P& p) { return std::string(p.*M); }, [](P& p, std::string_view v) { p.*M = std::string(v); }};
  }
  template <auto M>
  static Prop Double(const char* key) {
    return {key, [](const P& p) { return DoubleText(p.*M); }, [](P& p, std::string_view v) { p.*M = DoubleOr0(v); }};
  }
  template <auto M>
  static Prop Colour(const char* key) {
    return {key, [](const P& p) { return ColourText(p.*M); }, [](P& p, std::string_view v) { p.*M = ColourOf(v); }};
  }

  static const std::vector<Prop>& Table() {
    static const std::vector<Prop> table = Build();
    return table;
  }

  static std::vector<Prop> Build() {
    std::vector<Prop> t = {
        // common
        Text<&P::FILENAME>("FILENAME"),
        Int<&P::FILETYPE>("FILETYPE"),
        {"FILETYPESTR", [](const P& p) { return p.GetFileTypeStr(); }, [](P&, std::string_view) {}},
        Int<&P::BITSPERSAMPLE, 8>("BITSPERSAMPLE"),
        Int<&P::SAMPLESPERPIXEL, 8>("SAMPLESPERPIXEL"),
        Int<&P::WIDTH, 1>("WIDTH"),
        Int<&P::HEIGHT, 1>("HEIGHT"),
        {"DPIX", [](const P& p) { return std::to_string(p.DPIX()); },
         [](P& p, std::string_view v) { p.SetDpiX(IntOr(v, 1)); }},
        {"DPIY", [](const P& p) { return std::to_string(p.DPIY()); },
         [](P& p, std::string_view v) { p.SetDpiY(IntOr(v, 1)); }},
        {"IMAGEINDEX", [](const P& p) { return std::to_string(p.IMAGEINDEX()); },
         [](P& p, std::string_view v) { p.SetImageIndex(IntOr(v, 0)); }},
        {"IMAGECOUNT", [](const P& p) { return std::to_string(p.IMAGECOUNT()); },
         [](P& p, std::string_view v) { p.SetImageCount(IntOr(v, 0)); }},
        {"GETTHUMBNAIL", [](const P& p) { return std::string(p.GETTHUMBNAIL() ? "1" : "0"); },
         [](P& p, std::string_view v) { p.SetGetThumbnail(BoolOf(v)); }},
        {"ENABLEADJUSTORIENTATION", [](const P& p) { return std::string(p.ENABLEADJUSTORIENTATION() ? "1" : "0"); },
         [](P& p, std::string_view v) { p.SetEnableAdjustOrientation(BoolOf(v)); }},
        Int<&P::ORIGINALWIDTH>("ORIGINALWIDTH"),
        Int<&P::ORIGINALHEIGHT>("ORIGINALHEIGHT"),
        Int<&P::ORIGINALWIDTH>("JPEG_ORIGINALWIDTH"),
        Int<&P::ORIGINALHEIGHT>("JPEG_ORIGINALHEIGHT"),
        Bool<&P::ISNATIVEPIXELFORMAT>("ISNATIVEPIXELFORMAT"),
        // Read only: the count must stay in step with COLORMAP.
        {"COLORMAPCOUNT", [](const P& p) { return std::to_string(p.COLORMAPCOUNT); }, [](P&, std::string_view) {}},
        Text<&P::XMP_INFO>("XMP_INFO"),
        // TIFF
        Enum<&P::TIFF_COMPRESSION>("TIFF_COMPRESSION"),
        Int<&P::TIFF_IMAGEINDEX>("TIFF_IMAGEINDEX"),
        Int<&P::TIFF_SUBINDEX>("TIFF_SUBINDEX"),
        Int<&P::TIFF_IMAGECOUNT>("TIFF_IMAGECOUNT"),
        Enum<&P::TIFF_PHOTOMETINTEPRET>("TIFF_PHOTOMETINTEPRET"),
        Int<&P::TIFF_PLANARCONF>("TIFF_PLANARCONF"),
        Int<&P::TIFF_XPOS>("TIFF_XPOS"),
        Int<&P::TIFF_YPOS>("TIFF_YPOS"),
        Int<&P::TIFF_GETTILE, -1>("TIFF_GETTILE"),
        Text<&P::TIFF_DOCUMENTNAME>("TIFF_DOCUMENTNAME"),
        Text<&P::TIFF_IMAGEDESCRIPTION>("TIFF_IMAGEDESCRIPTION"),
        Text<&P::TIFF_PAGENAME>("TIFF_PAGENAME"),
        Int<&P::TIFF_PAGENUMBER>("TIFF_PAGENUMBER"),
        Int<&P::TIFF_PAGECOUNT>("TIFF_PAGECOUNT"),
        {"TIFF_ORIENTATION", [](const P& p) { return std::to_string(p.TIFF_ORIENTATION()); },
         [](P& p, std::string_view v) { p.SetTIFF_Orientation(IntOr(v, 1)); }},
        Bool<&P::TIFF_ENABLEADJUSTORIENTATION>("TIFF_ENABLEADJUSTORIENTATION"),
        Int<&P::TIFF_JPEGQUALITY>("TIFF_JPEGQUALITY"),
        Enum<&P::TIFF_JPEGCOLORSPACE>("TIFF_JPEGCOLORSPACE"),
        Int<&P::TIFF_ZIPCOMPRESSION>("TIFF_ZIPCOMPRESSION"),
        Int<&P::TIFF_FILLORDER, 1>("TIFF_FILLORDER"),
        Enum<&P::TIFF_BYTEORDER, 1>("TIFF_BYTEORDER"),
        // GIF
        Text<&P::GIF_VERSION>("GIF_VERSION"),
        Int<&P::GIF_IMAGEINDEX>("GIF_IMAGEINDEX"),
        Int<&P::GIF_IMAGECOUNT>("GIF_IMAGECOUNT"),
        Int<&P::GIF_XPOS>("GIF_XPOS"),
        Int<&P::GIF_YPOS>("GIF_YPOS"),
        Int<&P::GIF_DELAYTIME>("GIF_DELAYTIME"),
        Bool<&P::GIF_TRANSPARENT>("GIF_TRANSPARENT"),
        Colour<&P::GIF_TRANSPCOLOR>("GIF_TRANSPCOLOR"),
        Bool<&P::GIF_INTERLACED>("GIF_INTERLACED"),
        Int<&P::GIF_WINWIDTH>("GIF_WINWIDTH"),
        Int<&P::GIF_WINHEIGHT>("GIF_WINHEIGHT"),
        Colour<&P::GIF_BACKGROUND>("GIF_BACKGROUND"),
        Int<&P::GIF_RATIO>("GIF_RATIO"),
        Enum<&P::GIF_ACTION>("GIF_ACTION"),
        // JPEG
        Enum<&P::JPEG_COLORSPACE>("JPEG_COLORSPACE"),
        Int<&P::JPEG_QUALITY>("JPEG_QUALITY"),
        Enum<&P::JPEG_DCTMETHOD>("JPEG_DCTMETHOD"),
        Enum<&P::JPEG_CROMASUBSAMPLING, 1>("JPEG_CROMASUBSAMPLING"),
        Bool<&P::JPEG_OPTIMALHUFFMAN>("JPEG_OPTIMALHUFFMAN"),
        Int<&P::JPEG_SMOOTH>("JPEG_SMOOTH"),
        Bool<&P::JPEG_PROGRESSIVE>("JPEG_PROGRESSIVE"),
        Enum<&P::JPEG_SCALE>("JPEG_SCALE"),
        Int<&P::JPEG_SCALE_USED>("JPEG_SCALE_USED"),
        Int<&P::JPEG_WARNINGTOT>("JPEG_WARNINGTOT"),
        Int<&P::JPEG_WARNINGCODE>("JPEG_WARNINGCODE"),
        Bool<&P::JPEG_ENABLEADJUSTORIENTATION>("JPEG_ENABLEADJUSTORIENTATION"),
        {"JPEG_GETEXIFTHUMBNAIL", [](const P& p) { return std::string(p.JPEG_GETEXIFTHUMBNAIL() ? "1" : "0"); },
         [](P& p, std::string_view v) { p.SetJPEG_GetExifThumbnail(BoolOf(v)); }},
        // JPEG 2000
        Enum<&P::J2000_COLORSPACE>("J2000_COLORSPACE"),
        Double<&P::J2000_RATE>("J2000_RATE"),
        Enum<&P::J2000_SCALABLEBY>("J2000_SCALABLEBY"),
        // bitmap family
        Enum<&P::BMP_VERSION>("BMP_VERSION"),
        Enum<&P::BMP_COMPRESSION>("BMP_COMPRESSION"),
        Bool<&P::BMP_HANDLETRANSPARENCY>("BMP_HANDLETRANSPARENCY"),
        Enum<&P::BMPRAW_CHANNELORDER>("BMPRAW_CHANNELORDER"),
        Enum<&P::BMPRAW_PLANES>("BMPRAW_PLANES"),
        Int<&P::BMPRAW_ROWALIGN, 8>("BMPRAW_ROWALIGN"),
        Int<&P::BMPRAW_HEADERSIZE>("BMPRAW_HEADERSIZE"),
        Int<&P::ICO_IMAGEINDEX>("ICO_IMAGEINDEX"),
        Colour<&P::ICO_BACKGROUND>("ICO_BACKGROUND"),
        Int<&P::CUR_IMAGEINDEX>("CUR_IMAGEINDEX"),
        Int<&P::CUR_XHOTSPOT>("CUR_XHOTSPOT"),
        Int<&P::CUR_YHOTSPOT>("CUR_YHOTSPOT"),
        Colour<&P::CUR_BACKGROUND>("CUR_BACKGROUND"),
        Int<&P::PS_PAPERWIDTH, 595>("PS_PAPERWIDTH"),
        Int<&P::PS_PAPERHEIGHT, 842>("PS_PAPERHEIGHT"),
        Enum<&P::PS_COMPRESSION>("PS_COMPRESSION"),
        Text<&P::PS_TITLE>("PS_TITLE"),
        Int<&P::PDF_PAPERWIDTH, 595>("PDF_PAPERWIDTH"),
        Int<&P::PDF_PAPERHEIGHT, 842>("PDF_PAPERHEIGHT"),
        Enum<&P::PDF_COMPRESSION>("PDF_COMPRESSION"),
        Text<&P::PDF_TITLE>("PDF_TITLE"),
        Text<&P::PDF_AUTHOR>("PDF_AUTHOR"),
        Text<&P::PDF_SUBJECT>("PDF_SUBJECT"),
        Text<&P::PDF_KEYWORDS>("PDF_KEYWORDS"),
        Text<&P::PDF_CREATOR>("PDF_CREATOR"),
        Text<&P::PDF_PRODUCER>("PDF_PRODUCER"),
        Int<&P::PCX_VERSION>("PCX_VERSION"),
        Enum<&P::PCX_COMPRESSION>("PCX_COMPRESSION"),
        Int<&P::TGA_XPOS>("TGA_XPOS"),
        Int<&P::TGA_YPOS>("TGA_YPOS"),
        Bool<&P::TGA_COMPRESSED>("TGA_COMPRESSED"),
        Text<&P::TGA_DESCRIPTOR>("TGA_DESCRIPTOR"),
        Text<&P::TGA_AUTHOR>("TGA_AUTHOR"),
        Text<&P::TGA_IMAGENAME>("TGA_IMAGENAME"),
        {"TGA_DATE", [](const P& p) { return DateText(p.TGA_DATE); },
         [](P& p, std::string_view v) {
           double d;
           if (DateOf(v, d)) p.TGA_DATE = d;
         }},
        Colour<&P::TGA_BACKGROUND>("TGA_BACKGROUND"),
        Double<&P::TGA_ASPECTRATIO>("TGA_ASPECTRATIO"),
        Double<&P::TGA_GAMMA>("TGA_GAMMA"),
        Bool<&P::TGA_GRAYLEVEL>("TGA_GRAYLEVEL"),
        // PNG and PSD
        Bool<&P::PNG_INTERLACED>("PNG_INTERLACED"),
        Colour<&P::PNG_BACKGROUND>("PNG_BACKGROUND"),
        Enum<&P::PNG_FILTER>("PNG_FILTER"),
        Int<&P::PNG_COMPRESSION, 1>("PNG_COMPRESSION"),
        Bool<&P::PSD_LOADLAYERS>("PSD_LOADLAYERS"),
        Bool<&P::PSD_REPLACELAYERS>("PSD_REPLACELAYERS"),
        Bool<&P::PSD_HASPREMULTIPLIEDALPHA>("PSD_HASPREMULTIPLIEDALPHA"),
        // EXIF and GPS
        Bool<&P::EXIF_HASEXIF>("EXIF_HASEXIF"),
        {"EXIF_ORIENTATION", [](const P& p) { return std::to_string(p.EXIF_ORIENTATION()); },
         [](P& p, std::string_view v) { p.SetEXIF_Orientation(IntOr(v, 0)); }},
        {"EXIF_XRESOLUTION", [](const P& p) { return DoubleText(p.EXIF_XRESOLUTION()); },
         [](P& p, std::string_view v) { p.SetEXIF_XResolution(DoubleOr0(v)); }},
        {"EXIF_YRESOLUTION", [](const P& p) { return DoubleText(p.EXIF_YRESOLUTION()); },
         [](P& p, std::string_view v) { p.SetEXIF_YResolution(DoubleOr0(v)); }},
        Int<&P::EXIF_XPRATING, -1>("EXIF_XPRATING"),
        // further readers
        Int<&P::DCX_IMAGEINDEX>("DCX_IMAGEINDEX"),
        Int<&P::AVI_FRAMECOUNT>("AVI_FRAMECOUNT"),
        Int<&P::AVI_FRAMEDELAYTIME>("AVI_FRAMEDELAYTIME"),
        Int<&P::MEDIAFILE_FRAMECOUNT>("MEDIAFILE_FRAMECOUNT"),
        Int<&P::MEDIAFILE_FRAMEDELAYTIME>("MEDIAFILE_FRAMEDELAYTIME"),
        Bool<&P::RAW_HALFSIZE>("RAW_HALFSIZE"),
        Double<&P::RAW_GAMMA>("RAW_GAMMA"),
        Double<&P::RAW_BRIGHT>("RAW_BRIGHT"),
        Double<&P::RAW_REDSCALE>("RAW_REDSCALE"),
        Double<&P::RAW_BLUESCALE>("RAW_BLUESCALE"),
        Bool<&P::RAW_QUICKINTERPOLATE>("RAW_QUICKINTERPOLATE"),
        Bool<&P::RAW_USEAUTOWB>("RAW_USEAUTOWB"),
        Bool<&P::RAW_USECAMERAWB>("RAW_USECAMERAWB"),
        Bool<&P::RAW_FOURCOLORRGB>("RAW_FOURCOLORRGB"),
        {"RAW_GETEXIFTHUMBNAIL", [](const P& p) { return std::string(p.RAW_GETEXIFTHUMBNAIL() ? "1" : "0"); },
         [](P& p, std::string_view v) { p.SetRAW_GetExifThumbnail(BoolOf(v)); }},
        Bool<&P::RAW_AUTOADJUSTCOLORS>("RAW_AUTOADJUSTCOLORS"),
        Text<&P::RAW_CAMERA>("RAW_CAMERA"),
        Text<&P::RAW_EXTRAPARAMS>("RAW_EXTRAPARAMS"),
    };
#define PRAVIK_PROP_TEXT(f) t.push_back(Text<&P::f>(#f));
#define PRAVIK_PROP_INT(f) t.push_back(Int<&P::f>(#f));
#define PRAVIK_PROP_DOUBLE(f) t.push_back(Double<&P::f>(#f));
    PRAVIK_EXIF_TEXTS(PRAVIK_PROP_TEXT)
    PRAVIK_EXIF_INTS(PRAVIK_PROP_INT)
    PRAVIK_EXIF_DOUBLES(PRAVIK_PROP_DOUBLE)
#undef PRAVIK_PROP_TEXT
#undef PRAVIK_PROP_INT
#undef PRAVIK_PROP_DOUBLE
    return t;
  }

  static const Prop* Find(const std::string& key) {
    static const std::unordered_map<std::string_view, const Prop*> index = [] {
      std::unordered_map<std::string_view, const Prop*> m;
      for (const Prop& p : Table()) m.emplace(p.Key, &p);  // the first of equal keys wins
      return m;
    }();
    const auto it = index.find(key);
    return it == index.end() ? nullptr : it->second;
  }
};

// ---- TIOParamsVals ---------------------------------------------------------------------------------

TIOParamsVals::TIOParamsVals(TImageIO* owner) : owner_(owner) { SetDefaultParams(); }

TIOParamsVals::~TIOParamsVals() = default;

void TIOParamsVals::SetDefaultParams() {
  // Kept across defaults: the last image size and the JPEG library's warning
  // counters and the media frame counters (never reset).
  const std::int32_t width = WIDTH, height = HEIGHT;
  const std::int32_t warnTot = JPEG_WARNINGTOT, warnCode = JPEG_WARNINGCODE;
  const std::int32_t mediaCount = MEDIAFILE_FRAMECOUNT, mediaDelay = MEDIAFILE_FRAMEDELAYTIME;
  TImageIO* owner = owner_;

  *this = TIOParamsVals(owner, NoDefaults{});

  WIDTH = width;
  HEIGHT = height;
  JPEG_WARNINGTOT = warnTot;
  JPEG_WARNINGCODE = warnCode;
  MEDIAFILE_FRAMECOUNT = mediaCount;
  MEDIAFILE_FRAMEDELAYTIME = mediaDelay;
  TIFF_LZWDECOMPFUNC = DefTIFF_LZWDECOMPFUNC;
  TIFF_LZWCOMPFUNC = DefTIFF_LZWCOMPFUNC;
  GIF_LZWDECOMPFUNC = DefGIF_LZWDECOMPFUNC;
  GIF_LZWCOMPFUNC = DefGIF_LZWCOMPFUNC;
  SetTIFF_Orientation(1);
  if (owner_ != nullptr) {
    SetDpiX(gDefaultDPIX);
    SetDpiY(gDefaultDPIY);
  } else {
    SetDpiX(0);
    SetDpiY(0);
  }
  ResetEXIF();
  TGA_DATE = IENow();
  SetImageIndex(0);
}

void TIOParamsVals::ResetInfo() {
  IPTC_INFO.Clear();
  IMAGINGANNOT = nullptr;
  JPEG_MARKERLIST.Clear();
  ResetEXIF();
  GIF_COMMENTS.clear();
  DICOM_TAGS.Clear();
  PNG_TEXTKEYS.clear();
  PNG_TEXTVALUES.clear();
  TIFF_DOCUMENTNAME.clear();
  TIFF_IMAGEDESCRIPTION.clear();
  TIFF_PAGENAME.clear();
  TGA_DESCRIPTOR.clear();
  TGA_AUTHOR.clear();
  TGA_IMAGENAME.clear();
  PXM_COMMENTS.clear();
  XMP_INFO.clear();
  INPUTICC = nullptr;
}

void TIOParamsVals::ResetEXIF() {
  static const TIOParamsVals pristine(nullptr, NoDefaults{});
#define PRAVIK_RESET(f) f = pristine.f;
  PRAVIK_EXIF_TEXTS(PRAVIK_RESET)
  PRAVIK_EXIF_INTS(PRAVIK_RESET)
  PRAVIK_EXIF_DOUBLES(PRAVIK_RESET)
  PRAVIK_EXIF_ARRAYS(PRAVIK_RESET)
#undef PRAVIK_RESET
  EXIF_HASEXIF = false;
  EXIF_XPRATING = -1;
  exifOrientation_ = pristine.exifOrientation_;
  exifXResolution_ = pristine.exifXResolution_;
  exifYResolution_ = pristine.exifYResolution_;
  EXIF_THUMBNAIL = nullptr;
  EXIF_TAGS.Clear();
  for (int i = 0; i < JPEG_MARKERLIST.GetCount(); ++i) {
    if (JPEG_MARKERLIST.GetMarkerType(i) == 0xE1 &&
        IEIsEXIFBlock(JPEG_MARKERLIST.GetMarkerData(i), JPEG_MARKERLIST.GetMarkerLength(i))) {
      JPEG_MARKERLIST.DeleteMarker(i);
      break;
    }
  }
}

void TIOParamsVals::Assign(const TIOParamsVals& source) {
  if (&source == this) return;
  TImageIO* owner = owner_;
  *this = source;
  owner_ = owner;
}

void TIOParamsVals::AssignCompressionInfo(const TIOParamsVals& s) {
  BITSPERSAMPLE = s.BITSPERSAMPLE;
  SAMPLESPERPIXEL = s.SAMPLESPERPIXEL;
  TIFF_COMPRESSION = s.TIFF_COMPRESSION;
  TIFF_PHOTOMETINTEPRET = s.TIFF_PHOTOMETINTEPRET;
  TIFF_PLANARCONF = s.TIFF_PLANARCONF;
  SetTIFF_Orientation(s.TIFF_ORIENTATION());
  TIFF_LZWDECOMPFUNC = s.TIFF_LZWDECOMPFUNC;
  TIFF_LZWCOMPFUNC = s.TIFF_LZWCOMPFUNC;
  TIFF_ENABLEADJUSTORIENTATION = s.TIFF_ENABLEADJUSTORIENTATION;
  TIFF_JPEGQUALITY = s.TIFF_JPEGQUALITY;
  TIFF_JPEGCOLORSPACE = s.TIFF_JPEGCOLORSPACE;
  TIFF_FILLORDER = s.TIFF_FILLORDER;
  TIFF_ZIPCOMPRESSION = s.TIFF_ZIPCOMPRESSION;
  GIF_INTERLACED = s.GIF_INTERLACED;
  GIF_LZWDECOMPFUNC = s.GIF_LZWDECOMPFUNC;
  GIF_LZWCOMPFUNC = s.GIF_LZWCOMPFUNC;
  JPEG_COLORSPACE = s.JPEG_COLORSPACE;
  JPEG_QUALITY = s.JPEG_QUALITY;
  JPEG_DCTMETHOD = s.JPEG_DCTMETHOD;
  JPEG_CROMASUBSAMPLING = s.JPEG_CROMASUBSAMPLING;
  JPEG_OPTIMALHUFFMAN = s.JPEG_OPTIMALHUFFMAN;
  JPEG_SMOOTH = s.JPEG_SMOOTH;
  JPEG_PROGRESSIVE = s.JPEG_PROGRESSIVE;
  J2000_COLORSPACE = s.J2000_COLORSPACE;
  J2000_RATE = s.J2000_RATE;
  J2000_SCALABLEBY = s.J2000_SCALABLEBY;
  PCX_VERSION = s.PCX_VERSION;
  PCX_COMPRESSION = s.PCX_COMPRESSION;
  BMP_VERSION = s.BMP_VERSION;
  BMP_COMPRESSION = s.BMP_COMPRESSION;
  BMP_HANDLETRANSPARENCY = s.BMP_HANDLETRANSPARENCY;
  PNG_INTERLACED = s.PNG_INTERLACED;
  PNG_FILTER = s.PNG_FILTER;
  PNG_COMPRESSION = s.PNG_COMPRESSION;
  TGA_COMPRESSED = s.TGA_COMPRESSED;
  TGA_GRAYLEVEL = s.TGA_GRAYLEVEL;
}

// ---- setters ------------------------------------------------------------------------------------

void TIOParamsVals::SetDpi(int dpi) {
  SetDpiX(dpi);
  SetDpiY(dpi);
}

void TIOParamsVals::SetDpiX(int dpi) {
  dpiX_ = dpi;
  exifXResolution_ = dpi;
}

void TIOParamsVals::SetDpiY(int dpi) {
  dpiY_ = dpi;
  exifYResolution_ = dpi;
}

void TIOParamsVals::SetImageIndex(int index) {
  imageIndex_ = index;
  TIFF_IMAGEINDEX = index;
  DCX_IMAGEINDEX = index;
  GIF_IMAGEINDEX = index;
  ICO_IMAGEINDEX = index;
  CUR_IMAGEINDEX = index;
}

void TIOParamsVals::SetImageCount(int count) {
  imageCount_ = count;
  TIFF_IMAGECOUNT = count;
  AVI_FRAMECOUNT = count;
  GIF_IMAGECOUNT = count;
  MEDIAFILE_FRAMECOUNT = count;
}

void TIOParamsVals::SetGetThumbnail(bool value) {
  getThumbnail_ = value;
  jpegGetExifThumbnail_ = value;
  rawGetExifThumbnail_ = value;
}

void TIOParamsVals::SetJPEG_GetExifThumbnail(bool value) {
  jpegGetExifThumbnail_ = value;
  getThumbnail_ = value;
}

void TIOParamsVals::SetRAW_GetExifThumbnail(bool value) { rawGetExifThumbnail_ = value; }

void TIOParamsVals::SetEnableAdjustOrientation(bool value) {
  enableAdjustOrientation_ = value;
  TIFF_ENABLEADJUSTORIENTATION = value;
  JPEG_ENABLEADJUSTORIENTATION = value;
}

void TIOParamsVals::SetTIFF_Orientation(int value) {
  tiffOrientation_ = value;
  exifOrientation_ = value;
}

void TIOParamsVals::SetEXIF_Orientation(int value) {
  exifOrientation_ = value;
  tiffOrientation_ = value;
}

namespace {
int TruncToInt(double v) {
  if (!std::isfinite(v)) return 0;
  v = std::trunc(v);
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<int>(v);
}
}  // namespace

void TIOParamsVals::SetEXIF_XResolution(double value) {
  SetDpiX(TruncToInt(value));
  exifXResolution_ = value;
}

void TIOParamsVals::SetEXIF_YResolution(double value) {
  SetDpiY(TruncToInt(value));
  exifYResolution_ = value;
}

// ---- owned objects --------------------------------------------------------------------------------

TIEICC& TIOParamsVals::GetInputICC() {
  if (!INPUTICC) INPUTICC = std::make_unique<TIEICC>();
  return *INPUTICC;
}

TIEICC& TIOParamsVals::GetOutputICC() {
  if (!OUTPUTICC) {
    OUTPUTICC = std::make_unique<TIEICC>();
    OUTPUTICC->IsSRGB = true;
  }
  return *OUTPUTICC;
}

TIEICC& TIOParamsVals::GetDefaultICC() {
  if (!DEFAULTICC) DEFAULTICC = std::make_unique<TIEICC>();
  return *DEFAULTICC;
}

TIEImagingAnnot& TIOParamsVals::GetImagingAnnot() {
  if (!IMAGINGANNOT) IMAGINGANNOT = std::make_unique<TIEImagingAnnot>();
  return *IMAGINGANNOT;
}

void TIOParamsVals::SetColorMap(const TRGB* colours, int count) {
  if (colours == nullptr || count <= 0) {
    FreeColorMap();
    return;
  }
  COLORMAP.assign(colours, colours + count);
  COLORMAPCOUNT = count;
}

void TIOParamsVals::FreeColorMap() {
  COLORMAP.clear();
  COLORMAP.shrink_to_fit();
  COLORMAPCOUNT = 0;
}

// ---- property interface ----------------------------------------------------------------------------

std::string TIOParamsVals::GetProperty(std::string_view key) const {
  const std::string k = NormaliseKey(key);
  if (const Prop* p = IOParamsAccess::Find(k)) return p->Get(*this);
  if (k.compare(0, 12, "COLORMAPITEM") == 0 && k.size() >= 12) {
    const std::int32_t index = IntOr(std::string_view(k).substr(12), 0);
    if (index >= 0 && index < COLORMAPCOUNT && index < static_cast<std::int32_t>(COLORMAP.size()))
      return ColourText(COLORMAP[static_cast<std::size_t>(index)]);
  }
  return kInvalidProperty;
}

void TIOParamsVals::SetProperty(std::string_view key, std::string_view value) {
  const std::string k = NormaliseKey(key);
  const std::string v = StripControl(value);
  if (const Prop* p = IOParamsAccess::Find(k)) {
    p->Set(*this, v);
    return;
  }
  if (k.compare(0, 12, "COLORMAPITEM") == 0 && k.size() >= 12) {
    const std::int32_t index = IntOr(std::string_view(k).substr(12), 0);
    if (index >= 0 && index < COLORMAPCOUNT && index < static_cast<std::int32_t>(COLORMAP.size()))
      COLORMAP[static_cast<std::size_t>(index)] = ColourOf(v);
  }
}

std::string TIOParamsVals::GetFileTypeStr() const {
  std::string s;
  if (const TIEFileFormatInfo* info = IEFileFormatGetInfo(FILETYPE)) {
    std::string ext = IEFileFormatGetExt(FILETYPE, 0);
    for (char& c : ext)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    s = info->FullName + " (" + ext + ")";
  }
  auto pick = [](const char* const* names, int count, int value) -> const char* {
    return value >= 0 && value < count ? names[value] : "";
  };
  switch (FILETYPE) {
    case ioTIFF: {
      static const char* const names[] = {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                          " Group 4 Fax",  " LZW",     " Jpeg v.5",    " Jpeg",
                                          " PackBits RLE", " ZIP",     " Deflate"};
      s += pick(names, 11, TIFF_COMPRESSION);
      break;
    }
    case ioGIF:
      if (GIF_INTERLACED) s += " Interlaced";
      break;
    case ioJPEG: {
      static const char* const names[] = {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"};
      s += pick(names, 5, JPEG_COLORSPACE);
      break;
    }
    case ioPCX:
      if (PCX_COMPRESSION == ioPCX_UNCOMPRESSED) s += " Uncompressed";
      break;
    case ioBMP: {
      static const char* const names[] = {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"};
      s += pick(names, 4, BMP_VERSION);
      break;
    }
    case ioPNG:
      if (PNG_INTERLACED) s += " Interlaced";
      break;
    case ioTGA:
      s += TGA_COMPRESSED ? " Compressed" : " Uncompressed";
      break;
    case ioJP2:
    case ioJ2K: {
      static const char* const names[] = {" Gray level", " RGB", " YCbCr"};
      s += pick(names, 3, J2000_COLORSPACE);
      break;
    }
    case ioRAW:
      s += " (" + RAW_CAMERA + ")";
      break;
    default:
      break;
  }
  return s;
}

// ---- EXIF thumbnail ------------------------------------------------------------------------------

void TIOParamsVals::UpdateEXIFThumbnail(TIEBitmap& image) {
  EXIF_THUMBNAIL = nullptr;
  const int w = image.GetWidth(), h = image.GetHeight();
  if (image.IsEmpty() || w < 1 || h < 1) return;
  auto thumb = std::make_unique<TIEBitmap>();
  const TIEPixelFormat pf = image.GetPixelFormat();
  if (pf == ie24RGB || pf == ie8g) {
    TImageProc proc;
    proc.SetAttachedIEBitmap(&image);
    proc.ResampleTo(*thumb, 160, -1, rfTriangle);
  } else {
    // The triangle filter knows only these two formats; point sampling keeps
    // any other exact instead of leaving the thumbnail unfilled.
    const int th = std::max<int>(1, static_cast<int>(std::int64_t(160) * h / w));
    if (!thumb->Allocate(160, th, pf)) return;
    IEBmpStretchEx(image, *thumb);
  }
  if (!thumb->IsEmpty()) EXIF_THUMBNAIL = std::move(thumb);
}

}  // namespace pravik
