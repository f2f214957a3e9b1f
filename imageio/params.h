// TIOParamsVals: everything a reader learns about a file and everything a
// writer needs to know. Members are named by their upper-case property keys.
// Fields whose change must carry over to other fields (resolution, indexes,
// orientation, thumbnail switches) are private: read them through the
// accessor of the same name and change them through their setter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "image/bitmap.h"
#include "image/pixel.h"
#include "imageio/metadata.h"
#include "imageio/paramtypes.h"

namespace pravik {

class TImageIO;

// Default resolution in dots per inch (never changed by the system).
extern int gDefaultDPIX;
extern int gDefaultDPIY;

// An owned object that is deep-copied with the record (the palette-free
// metadata objects and the EXIF thumbnail). Behaves like std::unique_ptr.
template <class T>
class TIEOwnedPtr {
 public:
  TIEOwnedPtr() = default;
  TIEOwnedPtr(std::nullptr_t) {}
  TIEOwnedPtr(std::unique_ptr<T> p) : p_(std::move(p)) {}
  TIEOwnedPtr(const TIEOwnedPtr& other) : p_(Clone(other.p_.get())) {}
  TIEOwnedPtr(TIEOwnedPtr&&) noexcept = default;
  TIEOwnedPtr& operator=(const TIEOwnedPtr& other) {
    if (this != &other) p_ = Clone(other.p_.get());
    return *this;
  }
  TIEOwnedPtr& operator=(TIEOwnedPtr&&) noexcept = default;
  TIEOwnedPtr& operator=(std::unique_ptr<T> p) {
    p_ = std::move(p);
    return *this;
  }
  TIEOwnedPtr& operator=(std::nullptr_t) {
    p_.reset();
    return *this;
  }

  T* get() const { return p_.get(); }
  T* operator->() const { return p_.get(); }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void reset(T* p = nullptr) { p_.reset(p); }

 private:
  static std::unique_ptr<T> Clone(T* source);
  std::unique_ptr<T> p_;
};

template <class T>
std::unique_ptr<T> TIEOwnedPtr<T>::Clone(T* source) {
  if (source == nullptr) return nullptr;
  if constexpr (std::is_copy_constructible_v<T>) {
    return std::make_unique<T>(*source);
  } else {
    auto copy = std::make_unique<T>();  // image buffers copy through Assign
    copy->Assign(*source);
    return copy;
  }
}

// One entry of ICO_SIZES.
struct TIOICOSize {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  friend bool operator==(const TIOICOSize&, const TIOICOSize&) = default;
};
inline constexpr int IEMaxICOImages = 16;

class TIOParamsVals {
 public:
  // owner may be null; with an owner the resolution defaults to gDefaultDPIX/Y.
  explicit TIOParamsVals(TImageIO* owner = nullptr);
  ~TIOParamsVals();
  // Copy with Assign (which keeps the owner).
  TIOParamsVals(const TIOParamsVals&) = delete;

  TImageIO* Owner() const { return owner_; }

  // ---- lifecycle ---------------------------------------------------------------
  void SetDefaultParams();
  // Clears what describes one file (metadata, texts, comments); format, size,
  // depth, palette and every writer setting survive.
  void ResetInfo();
  void ResetEXIF();
  void Assign(const TIOParamsVals& source);
  // Copies only the writer settings.
  void AssignCompressionInfo(const TIOParamsVals& source);

  // ---- text property interface ---------------------------------------------------
  // Keys ignore control characters and letter case. Unknown keys read as
  // "INVALID PROPERTY" and are ignored when set.
  std::string GetProperty(std::string_view key) const;
  void SetProperty(std::string_view key, std::string_view value);
  // Description of FILETYPE with its first extension and a per-format suffix.
  std::string GetFileTypeStr() const;

  // ---- setters with side effects ---------------------------------------------------
  int DPIX() const { return dpiX_; }
  int DPIY() const { return dpiY_; }
  void SetDpi(int dpi);
  void SetDpiX(int dpi);  // also EXIF_XRESOLUTION
  void SetDpiY(int dpi);  // also EXIF_YRESOLUTION
  int IMAGEINDEX() const { return imageIndex_; }
  void SetImageIndex(int index);  // also the TIFF, DCX, GIF, ICO and CUR indexes
  int IMAGECOUNT() const { return imageCount_; }
  void SetImageCount(int count);  // also the TIFF, AVI, GIF and media frame counts
  bool GETTHUMBNAIL() const { return getThumbnail_; }
  void SetGetThumbnail(bool value);  // also JPEG_ and RAW_GETEXIFTHUMBNAIL
  bool JPEG_GETEXIFTHUMBNAIL() const { return jpegGetExifThumbnail_; }
  void SetJPEG_GetExifThumbnail(bool value);  // also GETTHUMBNAIL
  bool RAW_GETEXIFTHUMBNAIL() const { return rawGetExifThumbnail_; }
  void SetRAW_GetExifThumbnail(bool value);
  bool ENABLEADJUSTORIENTATION() const { return enableAdjustOrientation_; }
  void SetEnableAdjustOrientation(bool value);  // also the TIFF and JPEG switches
  int TIFF_ORIENTATION() const { return tiffOrientation_; }
  void SetTIFF_Orientation(int value);  // also EXIF_ORIENTATION
  int EXIF_ORIENTATION() const { return exifOrientation_; }
  void SetEXIF_Orientation(int value);  // also TIFF_ORIENTATION
  double EXIF_XRESOLUTION() const { return exifXResolution_; }
  void SetEXIF_XResolution(double value);  // DPIX = trunc(value), then the exact value
  double EXIF_YRESOLUTION() const { return exifYResolution_; }
  void SetEXIF_YResolution(double value);

  // ---- owned objects created on first request ---------------------------------------
  TIEICC& GetInputICC();
  TIEICC& GetOutputICC();  // sRGB when created
  TIEICC& GetDefaultICC();
  TIEImagingAnnot& GetImagingAnnot();
  // (Re)creates EXIF_THUMBNAIL from image: 160 pixels wide, height keeping the
  // aspect ratio.
  void UpdateEXIFThumbnail(TIEBitmap& image);

  // ---- palette -----------------------------------------------------------------------
  // Replaces COLORMAP with count entries of colours (count <= 0 frees it).
  void SetColorMap(const TRGB* colours, int count);
  void FreeColorMap();

  // ==== common fields ======================================================================
  std::string FILENAME;  // UTF-8
  std::int32_t FILETYPE = 0;
  std::int32_t BITSPERSAMPLE = 8;
  std::int32_t SAMPLESPERPIXEL = 3;
  std::int32_t WIDTH = 0;
  std::int32_t HEIGHT = 0;
  std::int32_t ORIGINALWIDTH = 0;   // also JPEG_ORIGINALWIDTH
  std::int32_t ORIGINALHEIGHT = 0;  // also JPEG_ORIGINALHEIGHT
  bool ISNATIVEPIXELFORMAT = false;
  // Palette read from the file; COLORMAP.size() == COLORMAPCOUNT when set
  // through SetColorMap. Code reading entries checks against COLORMAP.size().
  std::vector<TRGB> COLORMAP;
  std::int32_t COLORMAPCOUNT = 0;
  std::string XMP_INFO;

  // ==== TIFF ================================================================================
  TIOTIFFCompression TIFF_COMPRESSION = ioTIFF_UNCOMPRESSED;
  std::int32_t TIFF_IMAGEINDEX = 0;
  std::int32_t TIFF_SUBINDEX = -1;
  std::int32_t TIFF_IMAGECOUNT = 0;
  TIOTIFFPhotometInterpret TIFF_PHOTOMETINTEPRET = ioTIFF_RGB;
  std::int32_t TIFF_PLANARCONF = 1;
  std::int32_t TIFF_XPOS = 0;
  std::int32_t TIFF_YPOS = 0;
  std::int32_t TIFF_GETTILE = -1;
  std::string TIFF_DOCUMENTNAME;
  std::string TIFF_IMAGEDESCRIPTION;
  std::string TIFF_PAGENAME;
  std::int32_t TIFF_PAGENUMBER = -1;
  std::int32_t TIFF_PAGECOUNT = -1;
  bool TIFF_ENABLEADJUSTORIENTATION = false;
  std::int32_t TIFF_JPEGQUALITY = 80;
  TIOJPEGColorspace TIFF_JPEGCOLORSPACE = ioJPEG_YCbCr;
  std::int32_t TIFF_ZIPCOMPRESSION = 1;
  std::int32_t TIFF_FILLORDER = 1;
  TIOByteOrder TIFF_BYTEORDER = ioLittleEndian;
  TTIFFLZWDecompFunc TIFF_LZWDECOMPFUNC = nullptr;
  TTIFFLZWCompFunc TIFF_LZWCOMPFUNC = nullptr;

  // ==== GIF =================================================================================
  std::string GIF_VERSION = "GIF89a";
  std::int32_t GIF_IMAGEINDEX = 0;
  std::int32_t GIF_IMAGECOUNT = 0;
  std::int32_t GIF_XPOS = 0;
  std::int32_t GIF_YPOS = 0;
  std::int32_t GIF_DELAYTIME = 0;
  bool GIF_TRANSPARENT = false;
  TRGB GIF_TRANSPCOLOR{};
  bool GIF_INTERLACED = false;
  std::int32_t GIF_WINWIDTH = 0;
  std::int32_t GIF_WINHEIGHT = 0;
  TRGB GIF_BACKGROUND{};
  std::int32_t GIF_RATIO = 0;
  std::vector<std::string> GIF_COMMENTS;
  TIEGIFAction GIF_ACTION = ioGIF_DrawBackground;
  TGIFLZWDecompFunc GIF_LZWDECOMPFUNC = nullptr;
  TGIFLZWCompFunc GIF_LZWCOMPFUNC = nullptr;

  // ==== JPEG ================================================================================
  TIOJPEGColorspace JPEG_COLORSPACE = ioJPEG_YCbCr;
  std::int32_t JPEG_QUALITY = 80;
  TIOJPEGDctMethod JPEG_DCTMETHOD = ioJPEG_ISLOW;
  TIOJPEGCromaSubsampling JPEG_CROMASUBSAMPLING = ioJPEG_HIGH;
  bool JPEG_OPTIMALHUFFMAN = false;
  std::int32_t JPEG_SMOOTH = 0;
  bool JPEG_PROGRESSIVE = false;
  TIOJPEGScale JPEG_SCALE = ioJPEG_FULLSIZE;
  std::int32_t JPEG_SCALE_USED = 1;
  std::int32_t JPEG_WARNINGTOT = 0;   // never reset
  std::int32_t JPEG_WARNINGCODE = 0;  // never reset
  bool JPEG_ENABLEADJUSTORIENTATION = false;
  TIEMarkerList JPEG_MARKERLIST;

  // ==== JPEG 2000 ===========================================================================
  TIOJ2000ColorSpace J2000_COLORSPACE = ioJ2000_RGB;
  double J2000_RATE = 1.0;
  TIOJ2000ScalableBy J2000_SCALABLEBY = ioJ2000_Rate;

  // ==== bitmap family =======================================================================
  TIOBMPVersion BMP_VERSION = ioBMP_BM3;
  TIOBMPCompression BMP_COMPRESSION = ioBMP_UNCOMPRESSED;
  bool BMP_HANDLETRANSPARENCY = false;
  TIOBMPRAWChannelOrder BMPRAW_CHANNELORDER = coRGB;
  TIOBMPRAWPlanes BMPRAW_PLANES = plInterleaved;
  std::int32_t BMPRAW_ROWALIGN = 8;
  std::int32_t BMPRAW_HEADERSIZE = 0;
  std::int32_t ICO_IMAGEINDEX = 0;
  TRGB ICO_BACKGROUND{255, 255, 255};
  // The images written into one icon; the list ends at the first width 0.
  std::array<TIOICOSize, IEMaxICOImages> ICO_SIZES{{{64, 64}}};
  std::array<std::int32_t, IEMaxICOImages> ICO_BITCOUNT{{8}};
  std::int32_t CUR_IMAGEINDEX = 0;
  std::int32_t CUR_XHOTSPOT = 0;
  std::int32_t CUR_YHOTSPOT = 0;
  TRGB CUR_BACKGROUND{255, 255, 255};
  std::vector<std::string> PXM_COMMENTS;
  std::int32_t PS_PAPERWIDTH = 595;
  std::int32_t PS_PAPERHEIGHT = 842;
  TIOPSCompression PS_COMPRESSION = ioPS_G4FAX;
  std::string PS_TITLE = "No Title";
  std::int32_t PDF_PAPERWIDTH = 595;
  std::int32_t PDF_PAPERHEIGHT = 842;
  TIOPDFCompression PDF_COMPRESSION = ioPDF_G4FAX;
  std::string PDF_TITLE, PDF_AUTHOR, PDF_SUBJECT, PDF_KEYWORDS, PDF_CREATOR, PDF_PRODUCER;
  std::int32_t PCX_VERSION = 5;
  TIOPCXCompression PCX_COMPRESSION = ioPCX_RLE;
  std::int32_t TGA_XPOS = 0;
  std::int32_t TGA_YPOS = 0;
  bool TGA_COMPRESSED = true;
  std::string TGA_DESCRIPTOR, TGA_AUTHOR, TGA_IMAGENAME;
  double TGA_DATE = 0.0;  // days since 1899-12-30; today when defaults are applied
  TRGB TGA_BACKGROUND{};
  double TGA_ASPECTRATIO = 1.0;
  double TGA_GAMMA = 2.2;
  bool TGA_GRAYLEVEL = false;

  // ==== PNG and PSD =========================================================================
  bool PNG_INTERLACED = false;
  TRGB PNG_BACKGROUND{};
  TIOPNGFilter PNG_FILTER = ioPNG_FILTER_NONE;
  std::int32_t PNG_COMPRESSION = 5;
  std::vector<std::string> PNG_TEXTKEYS;
  std::vector<std::string> PNG_TEXTVALUES;
  bool PSD_LOADLAYERS = false;
  bool PSD_REPLACELAYERS = true;
  bool PSD_HASPREMULTIPLIEDALPHA = false;

  // ==== EXIF ================================================================================
  bool EXIF_HASEXIF = false;
  TIEOwnedPtr<TIEBitmap> EXIF_THUMBNAIL;  // null until a codec or UpdateEXIFThumbnail makes one
  TIETagStore EXIF_TAGS;
  std::string EXIF_IMAGEDESCRIPTION, EXIF_MAKE, EXIF_MODEL, EXIF_SOFTWARE, EXIF_ARTIST, EXIF_DATETIME,
      EXIF_COPYRIGHT, EXIF_EXIFVERSION, EXIF_DATETIMEORIGINAL, EXIF_DATETIMEDIGITIZED, EXIF_SUBSECTIME,
      EXIF_SUBSECTIMEORIGINAL, EXIF_SUBSECTIMEDIGITIZED, EXIF_FLASHPIXVERSION, EXIF_RELATEDSOUNDFILE,
      EXIF_USERCOMMENT, EXIF_USERCOMMENTCODE, EXIF_IMAGEUNIQUEID;
  // Wide texts, kept as UTF-8.
  std::string EXIF_XPTITLE, EXIF_XPCOMMENT, EXIF_XPAUTHOR, EXIF_XPKEYWORDS, EXIF_XPSUBJECT;
  std::int32_t EXIF_RESOLUTIONUNIT = 0, EXIF_EXPOSUREPROGRAM = 0, EXIF_METERINGMODE = 0, EXIF_LIGHTSOURCE = 0,
               EXIF_FLASH = 0, EXIF_COLORSPACE = 0, EXIF_EXIFIMAGEWIDTH = 0, EXIF_EXIFIMAGEHEIGHT = 0,
               EXIF_FOCALPLANERESOLUTIONUNIT = 0, EXIF_SENSINGMETHOD = 0, EXIF_FILESOURCE = 0, EXIF_SCENETYPE = 0,
               EXIF_YCBCRPOSITIONING = 0;
  std::int32_t EXIF_XPRATING = -1, EXIF_EXPOSUREMODE = -1, EXIF_WHITEBALANCE = -1, EXIF_FOCALLENGTHIN35MMFILM = -1,
               EXIF_SCENECAPTURETYPE = -1, EXIF_GAINCONTROL = -1, EXIF_CONTRAST = -1, EXIF_SATURATION = -1,
               EXIF_SHARPNESS = -1, EXIF_SUBJECTDISTANCERANGE = -1;
  double EXIF_EXPOSURETIME = 0, EXIF_FNUMBER = 0, EXIF_COMPRESSEDBITSPERPIXEL = 0, EXIF_SHUTTERSPEEDVALUE = 0,
         EXIF_APERTUREVALUE = 0, EXIF_BRIGHTNESSVALUE = 0, EXIF_EXPOSUREBIASVALUE = 0, EXIF_MAXAPERTUREVALUE = 0,
         EXIF_SUBJECTDISTANCE = 0, EXIF_FOCALLENGTH = 0, EXIF_FOCALPLANEXRESOLUTION = 0,
         EXIF_FOCALPLANEYRESOLUTION = 0, EXIF_EXPOSUREINDEX = 0, EXIF_DIGITALZOOMRATIO = -1.0;
  std::array<std::int32_t, 2> EXIF_ISOSPEEDRATINGS{};
  std::array<double, 2> EXIF_WHITEPOINT{};
  std::array<double, 6> EXIF_PRIMARYCHROMATICITIES{};
  std::array<double, 3> EXIF_YCBCRCOEFFICIENTS{};
  std::array<double, 6> EXIF_REFERENCEBLACKWHITE{};

  // ==== GPS =================================================================================
  std::string EXIF_GPSVERSIONID, EXIF_GPSLATITUDEREF, EXIF_GPSLONGITUDEREF, EXIF_GPSALTITUDEREF, EXIF_GPSSATELLITES,
      EXIF_GPSSTATUS, EXIF_GPSMEASUREMODE, EXIF_GPSSPEEDREF, EXIF_GPSTRACKREF, EXIF_GPSIMGDIRECTIONREF,
      EXIF_GPSMAPDATUM, EXIF_GPSDESTLATITUDEREF, EXIF_GPSDESTLONGITUDEREF, EXIF_GPSDESTBEARINGREF,
      EXIF_GPSDESTDISTANCEREF, EXIF_GPSDATESTAMP;
  double EXIF_GPSLATITUDEDEGREES = 0, EXIF_GPSLATITUDEMINUTES = 0, EXIF_GPSLATITUDESECONDS = 0,
         EXIF_GPSLONGITUDEDEGREES = 0, EXIF_GPSLONGITUDEMINUTES = 0, EXIF_GPSLONGITUDESECONDS = 0,
         EXIF_GPSALTITUDE = 0, EXIF_GPSTIMESTAMPHOUR = 0, EXIF_GPSTIMESTAMPMINUTE = 0, EXIF_GPSTIMESTAMPSECOND = 0,
         EXIF_GPSDOP = 0, EXIF_GPSSPEED = 0, EXIF_GPSTRACK = 0, EXIF_GPSIMGDIRECTION = 0,
         EXIF_GPSDESTLATITUDEDEGREES = 0, EXIF_GPSDESTLATITUDEMINUTES = 0, EXIF_GPSDESTLATITUDESECONDS = 0,
         EXIF_GPSDESTLONGITUDEDEGREES = 0, EXIF_GPSDESTLONGITUDEMINUTES = 0, EXIF_GPSDESTLONGITUDESECONDS = 0,
         EXIF_GPSDESTBEARING = 0, EXIF_GPSDESTDISTANCE = 0;

  // ==== other metadata ==========================================================================
  TIEIPTCInfoList IPTC_INFO;
  TIEOwnedPtr<TIEImagingAnnot> IMAGINGANNOT;  // see GetImagingAnnot
  TIEOwnedPtr<TIEICC> INPUTICC;               // see GetInputICC
  TIEOwnedPtr<TIEICC> OUTPUTICC;
  TIEOwnedPtr<TIEICC> DEFAULTICC;

  // ==== further readers =========================================================================
  std::int32_t DCX_IMAGEINDEX = 0;
  TIETagStore DICOM_TAGS;
  std::int32_t AVI_FRAMECOUNT = 0;
  std::int32_t AVI_FRAMEDELAYTIME = 0;
  std::int32_t MEDIAFILE_FRAMECOUNT = 0;       // not reset
  std::int32_t MEDIAFILE_FRAMEDELAYTIME = 0;   // not reset
  bool RAW_HALFSIZE = false;
  double RAW_GAMMA = 0.6;
  double RAW_BRIGHT = 1.0;
  double RAW_REDSCALE = 1.0;
  double RAW_BLUESCALE = 1.0;
  bool RAW_QUICKINTERPOLATE = true;
  bool RAW_USEAUTOWB = false;
  bool RAW_USECAMERAWB = false;
  bool RAW_FOURCOLORRGB = false;
  bool RAW_AUTOADJUSTCOLORS = false;
  std::string RAW_CAMERA;
  std::string RAW_EXTRAPARAMS;

 private:
  friend struct IOParamsAccess;  // the property table (params.cpp)
  struct NoDefaults {};
  // Member initialisers only: the pristine defaults SetDefaultParams starts from.
  TIOParamsVals(TImageIO* owner, NoDefaults) : owner_(owner) {}
  // Every field, deep; used by Assign and SetDefaultParams.
  TIOParamsVals& operator=(const TIOParamsVals&) = default;

  TImageIO* owner_ = nullptr;
  std::int32_t dpiX_ = 0;
  std::int32_t dpiY_ = 0;
  std::int32_t imageIndex_ = 0;
  std::int32_t imageCount_ = 0;
  bool getThumbnail_ = false;
  bool jpegGetExifThumbnail_ = false;
  bool rawGetExifThumbnail_ = false;
  bool enableAdjustOrientation_ = false;
  std::int32_t tiffOrientation_ = 1;
  std::int32_t exifOrientation_ = 0;
  double exifXResolution_ = 0.0;
  double exifYResolution_ = 0.0;
};

// Date helpers for TGA_DATE (days since 1899-12-30, fraction = time of day).
double IEEncodeDate(int year, int month, int day);
bool IEDecodeDate(double date, int& year, int& month, int& day);
double IENow();

}  // namespace pravik
