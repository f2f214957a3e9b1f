#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

#include "imageio/formats.h"
#include "imageio/params.h"

namespace pravik {
namespace {

TEST(ParamsTest, FreshRecordDefaults) {
  TIOParamsVals p;  // no owner: resolution 0
  EXPECT_EQ(p.DPIX(), 0);
  EXPECT_EQ(p.BITSPERSAMPLE, 8);
  EXPECT_EQ(p.SAMPLESPERPIXEL, 3);
  EXPECT_EQ(p.JPEG_QUALITY, 80);
  EXPECT_EQ(p.TIFF_ORIENTATION(), 1);
  EXPECT_EQ(p.TIFF_SUBINDEX, -1);
  EXPECT_EQ(p.GIF_VERSION, "GIF89a");
  EXPECT_EQ(p.ICO_SIZES[0], (TIOICOSize{64, 64}));
  EXPECT_EQ(p.ICO_SIZES[1], (TIOICOSize{0, 0}));
  EXPECT_EQ(p.ICO_BITCOUNT[0], 8);
  EXPECT_EQ(p.ICO_BITCOUNT[1], 0);
  EXPECT_EQ(p.ICO_BACKGROUND, CreateRGB(255, 255, 255));
  EXPECT_EQ(p.PS_TITLE, "No Title");
  EXPECT_EQ(p.EXIF_XPRATING, -1);
  EXPECT_EQ(p.EXIF_DIGITALZOOMRATIO, -1.0);
  EXPECT_DOUBLE_EQ(p.RAW_GAMMA, 0.6);
  EXPECT_GT(p.TGA_DATE, IEEncodeDate(2020, 1, 1));  // today
}

TEST(ParamsTest, SetDefaultParamsRestoresWriterSettingsButKeepsSizeAndCounters) {
  TIOParamsVals p;
  p.CUR_XHOTSPOT = 5;
  p.CUR_YHOTSPOT = 7;
  p.JPEG_QUALITY = 12;
  p.ICO_SIZES[1] = {32, 32};
  p.GIF_COMMENTS.push_back("hi");
  p.WIDTH = 640;
  p.JPEG_WARNINGTOT = 3;
  p.FILETYPE = ioBMP;
  const TRGB pal[2] = {CreateRGB(1, 2, 3), CreateRGB(4, 5, 6)};
  p.SetColorMap(pal, 2);
  p.GetInputICC().Raw = {1, 2, 3};
  p.SetImageIndex(4);
  p.SetDefaultParams();
  EXPECT_EQ(p.CUR_XHOTSPOT, 0);
  EXPECT_EQ(p.CUR_YHOTSPOT, 0);
  EXPECT_EQ(p.JPEG_QUALITY, 80);
  EXPECT_EQ(p.ICO_SIZES[1], (TIOICOSize{0, 0}));
  EXPECT_TRUE(p.GIF_COMMENTS.empty());
  EXPECT_EQ(p.COLORMAPCOUNT, 0);
  EXPECT_TRUE(p.COLORMAP.empty());
  EXPECT_EQ(p.FILETYPE, 0);
  EXPECT_FALSE(p.INPUTICC);
  EXPECT_EQ(p.GIF_IMAGEINDEX, 0);
  EXPECT_EQ(p.WIDTH, 640);
  EXPECT_EQ(p.JPEG_WARNINGTOT, 3);
}

TEST(ParamsTest, ResetInfoClearsOnlyPerFileInformation) {
  TIOParamsVals p;
  p.JPEG_QUALITY = 33;
  p.FILETYPE = ioGIF;
  p.WIDTH = 10;
  const TRGB pal[1] = {CreateRGB(9, 8, 7)};
  p.SetColorMap(pal, 1);
  p.XMP_INFO = "<x/>";
  p.GIF_COMMENTS = {"a", "b"};
  p.PNG_TEXTKEYS = {"k"};
  p.TIFF_PAGENAME = "page";
  p.EXIF_HASEXIF = true;
  p.EXIF_MAKE = "Cam";
  p.SetEXIF_Orientation(6);
  p.GetInputICC().Raw = {1};
  p.GetImagingAnnot().Raw = {2};
  p.IPTC_INFO.Items.push_back({2, 5, {'t'}});
  p.ResetInfo();
  EXPECT_EQ(p.JPEG_QUALITY, 33);
  EXPECT_EQ(p.FILETYPE, ioGIF);
  EXPECT_EQ(p.WIDTH, 10);
  ASSERT_EQ(p.COLORMAPCOUNT, 1);
  EXPECT_EQ(p.COLORMAP[0], CreateRGB(9, 8, 7));
  EXPECT_TRUE(p.XMP_INFO.empty());
  EXPECT_TRUE(p.GIF_COMMENTS.empty());
  EXPECT_TRUE(p.PNG_TEXTKEYS.empty());
  EXPECT_TRUE(p.TIFF_PAGENAME.empty());
  EXPECT_FALSE(p.EXIF_HASEXIF);
  EXPECT_TRUE(p.EXIF_MAKE.empty());
  EXPECT_EQ(p.EXIF_ORIENTATION(), 0);
  EXPECT_EQ(p.TIFF_ORIENTATION(), 6);  // a writer setting: survives
  EXPECT_FALSE(p.INPUTICC);
  EXPECT_FALSE(p.IMAGINGANNOT);
  EXPECT_TRUE(p.IPTC_INFO.IsEmpty());
}

TEST(ParamsTest, ResetEXIFDeletesOnlyTheFirstEXIFMarker) {
  TIOParamsVals p;
  const char exif[] = "Exif\0\0II*\0";
  const char xmp[] = "http://ns.adobe.com/xap/1.0/";
  p.JPEG_MARKERLIST.AddMarker(0xE1, xmp, sizeof xmp);
  p.JPEG_MARKERLIST.AddMarker(0xE1, exif, sizeof exif);
  p.JPEG_MARKERLIST.AddMarker(0xE1, exif, sizeof exif);
  p.JPEG_MARKERLIST.AddMarker(0xFE, "c", 1);
  p.EXIF_THUMBNAIL = std::make_unique<TIEBitmap>(4, 4, ie24RGB);
  p.ResetEXIF();
  EXPECT_FALSE(p.EXIF_THUMBNAIL);
  ASSERT_EQ(p.JPEG_MARKERLIST.GetCount(), 3);
  EXPECT_EQ(std::memcmp(p.JPEG_MARKERLIST.GetMarkerData(0), xmp, 10), 0);
  EXPECT_TRUE(IEIsEXIFBlock(p.JPEG_MARKERLIST.GetMarkerData(1), p.JPEG_MARKERLIST.GetMarkerLength(1)));
}

TEST(ParamsTest, SettersCarryOverToTheirFields) {
  TIOParamsVals p;
  p.SetImageIndex(3);
  EXPECT_EQ(p.TIFF_IMAGEINDEX, 3);
  EXPECT_EQ(p.DCX_IMAGEINDEX, 3);
  EXPECT_EQ(p.GIF_IMAGEINDEX, 3);
  EXPECT_EQ(p.ICO_IMAGEINDEX, 3);
  EXPECT_EQ(p.CUR_IMAGEINDEX, 3);
  p.SetImageCount(9);
  EXPECT_EQ(p.TIFF_IMAGECOUNT, 9);
  EXPECT_EQ(p.GIF_IMAGECOUNT, 9);
  EXPECT_EQ(p.AVI_FRAMECOUNT, 9);
  EXPECT_EQ(p.MEDIAFILE_FRAMECOUNT, 9);
  p.SetGetThumbnail(true);
  EXPECT_TRUE(p.JPEG_GETEXIFTHUMBNAIL());
  EXPECT_TRUE(p.RAW_GETEXIFTHUMBNAIL());
  p.SetJPEG_GetExifThumbnail(false);
  EXPECT_FALSE(p.GETTHUMBNAIL());
  EXPECT_TRUE(p.RAW_GETEXIFTHUMBNAIL());
  p.SetEnableAdjustOrientation(true);
  EXPECT_TRUE(p.TIFF_ENABLEADJUSTORIENTATION);
  EXPECT_TRUE(p.JPEG_ENABLEADJUSTORIENTATION);
  p.SetTIFF_Orientation(8);
  EXPECT_EQ(p.EXIF_ORIENTATION(), 8);
  p.SetEXIF_Orientation(3);
  EXPECT_EQ(p.TIFF_ORIENTATION(), 3);
  p.SetDpiX(150);
  EXPECT_EQ(p.EXIF_XRESOLUTION(), 150.0);
  p.SetEXIF_YResolution(71.9);
  EXPECT_EQ(p.DPIY(), 71);
  EXPECT_DOUBLE_EQ(p.EXIF_YRESOLUTION(), 71.9);
  p.SetEXIF_XResolution(1e300);  // from a file: no undefined conversion
  EXPECT_EQ(p.DPIX(), 2147483647);
}

TEST(ParamsTest, AssignIsDeepAndKeepsTheOwner) {
  TIOParamsVals a, b;
  a.GIF_COMMENTS = {"x"};
  a.GetInputICC().Raw = {1, 2};
  a.EXIF_THUMBNAIL = std::make_unique<TIEBitmap>(2, 2, ie8g);
  a.EXIF_THUMBNAIL->SetPixels_ie8(1, 1, 77);
  const TRGB pal[1] = {CreateRGB(1, 1, 1)};
  a.SetColorMap(pal, 1);
  a.SetDpi(72);
  b.Assign(a);
  a.GetInputICC().Raw[0] = 9;
  a.EXIF_THUMBNAIL->SetPixels_ie8(1, 1, 5);
  ASSERT_TRUE(b.INPUTICC);
  EXPECT_EQ(b.INPUTICC->Raw[0], 1);
  ASSERT_TRUE(b.EXIF_THUMBNAIL);
  EXPECT_NE(b.EXIF_THUMBNAIL.get(), a.EXIF_THUMBNAIL.get());
  EXPECT_EQ(b.EXIF_THUMBNAIL->GetPixels_ie8(1, 1), 77);
  EXPECT_EQ(b.GIF_COMMENTS, a.GIF_COMMENTS);
  EXPECT_EQ(b.COLORMAPCOUNT, 1);
  EXPECT_EQ(b.DPIY(), 72);
  EXPECT_EQ(b.Owner(), nullptr);
}

TEST(ParamsTest, AssignCompressionInfoCopiesWriterSettingsOnly) {
  TIOParamsVals a, b;
  a.BITSPERSAMPLE = 1;
  a.TIFF_COMPRESSION = ioTIFF_G4FAX;
  a.SetTIFF_Orientation(5);
  a.JPEG_QUALITY = 10;
  a.PNG_FILTER = ioPNG_FILTER_PAETH;
  a.TGA_GRAYLEVEL = true;
  a.WIDTH = 99;
  a.GIF_TRANSPARENT = true;
  b.AssignCompressionInfo(a);
  EXPECT_EQ(b.BITSPERSAMPLE, 1);
  EXPECT_EQ(b.TIFF_COMPRESSION, ioTIFF_G4FAX);
  EXPECT_EQ(b.EXIF_ORIENTATION(), 5);  // through the setter
  EXPECT_EQ(b.JPEG_QUALITY, 10);
  EXPECT_EQ(b.PNG_FILTER, ioPNG_FILTER_PAETH);
  EXPECT_TRUE(b.TGA_GRAYLEVEL);
  EXPECT_EQ(b.WIDTH, 0);
  EXPECT_FALSE(b.GIF_TRANSPARENT);
}

// ---- text property interface ----------------------------------------------------------

TEST(ParamsPropertyTest, KeysIgnoreCaseAndControlCharacters) {
  TIOParamsVals p;
  EXPECT_EQ(p.GetProperty("jpeg_quality"), "80");
  EXPECT_EQ(p.GetProperty("JPEG_QUALITY\t"), "80");
  EXPECT_EQ(p.GetProperty("\x7FJpeg_\nQuality"), "80");
  EXPECT_EQ(p.GetProperty("NOSUCHKEY"), "INVALID PROPERTY");
  EXPECT_EQ(p.GetProperty(""), "INVALID PROPERTY");
  p.SetProperty("NOSUCHKEY", "1");  // ignored
  p.SetProperty("jpeg_quality\r\n", "9\r\n5");  // control characters leave the value too
  EXPECT_EQ(p.JPEG_QUALITY, 95);
}

TEST(ParamsPropertyTest, ValuesParseWithTheirFallbacks) {
  TIOParamsVals p;
  struct Case {
    const char* key;
    const char* value;
    const char* expected;
  };
  const Case cases[] = {
      {"GIF_TRANSPARENT", "t", "1"},
      {"GIF_TRANSPARENT", "yes", "0"},
      {"GIF_TRANSPARENT", "TrUe", "1"},
      {"PNG_BACKGROUND", "255, 0,128", "255,0,128"},
      {"PNG_BACKGROUND", "300,x", "0,0,0"},
      {"PNG_BACKGROUND", "7", "7,0,0"},
      {"J2000_RATE", "0,5", "0.5"},
      {"J2000_RATE", "0.25", "0.25"},
      {"J2000_RATE", "1", "1"},
      {"J2000_RATE", "abc", "0"},
      {"J2000_RATE", "inf", "0"},
      {"BITSPERSAMPLE", "x", "8"},
      {"SAMPLESPERPIXEL", "", "8"},
      {"WIDTH", "12abc", "1"},
      {"TIFF_GETTILE", "?", "-1"},
      {"EXIF_XPRATING", "?", "-1"},
      {"PS_PAPERWIDTH", "?", "595"},
      {"PDF_PAPERHEIGHT", "?", "842"},
      {"BMPRAW_ROWALIGN", "?", "8"},
      {"PNG_COMPRESSION", "?", "1"},
      {"JPEG_CROMASUBSAMPLING", "?", "1"},
      {"TIFF_BYTEORDER", "?", "1"},
      {"JPEG_QUALITY", "?", "0"},
      {"JPEG_QUALITY", " -7 ", "-7"},
      {"JPEG_QUALITY", "99999999999", "0"},
      {"TIFF_COMPRESSION", "5", "5"},
      {"TIFF_COMPRESSION", "1000", "0"},  // an enumeration holds one byte
      {"GIF_ACTION", "6", "6"},           // disposal values past the named ones pass through
      {"TGA_DATE", "2021-02-28", "2021-02-28"},
      {"TGA_DATE", "2021-02-30", "2021-02-28"},  // not a date: unchanged
      {"TIFF_PAGENAME", "first page", "first page"},
      {"FILENAME", "C:\\pics\\\xC3\xA9.png", "C:\\pics\\\xC3\xA9.png"},
  };
  for (const Case& c : cases) {
    p.SetProperty(c.key, c.value);
    EXPECT_EQ(p.GetProperty(c.key), c.expected) << c.key << " = '" << c.value << "'";
  }
}

TEST(ParamsPropertyTest, SetterKeysGoThroughTheirSetters) {
  TIOParamsVals p;
  p.SetProperty("DPIX", "96");
  EXPECT_EQ(p.GetProperty("EXIF_XRESOLUTION"), "96");
  p.SetProperty("EXIF_YRESOLUTION", "72.5");
  EXPECT_EQ(p.DPIY(), 72);
  EXPECT_EQ(p.GetProperty("EXIF_YRESOLUTION"), "72.5");
  p.SetProperty("IMAGEINDEX", "2");
  EXPECT_EQ(p.GIF_IMAGEINDEX, 2);
  p.SetProperty("TIFF_ORIENTATION", "x");
  EXPECT_EQ(p.EXIF_ORIENTATION(), 1);
  p.SetProperty("GETTHUMBNAIL", "1");
  EXPECT_TRUE(p.JPEG_GETEXIFTHUMBNAIL());
  p.SetProperty("JPEG_ORIGINALWIDTH", "33");
  EXPECT_EQ(p.ORIGINALWIDTH, 33);
}

TEST(ParamsPropertyTest, DoublesIgnoreTheLocale) {
  // A locale with a decimal comma must change neither reading nor writing.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old != nullptr ? old : "C";
  const bool haveComma = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  TIOParamsVals p;
  p.SetProperty("TGA_GAMMA", "1.8");
  EXPECT_EQ(p.GetProperty("TGA_GAMMA"), "1.8");
  p.SetProperty("TGA_GAMMA", "2,4");
  EXPECT_DOUBLE_EQ(p.TGA_GAMMA, 2.4);
  std::setlocale(LC_NUMERIC, saved.c_str());
  if (!haveComma) GTEST_SKIP() << "de_DE locale not installed; checked in the C locale only";
}

TEST(ParamsPropertyTest, ColourMapItemsAndFileTypeText) {
  TIOParamsVals p;
  const TRGB pal[2] = {CreateRGB(10, 20, 30), CreateRGB(40, 50, 60)};
  p.SetColorMap(pal, 2);
  EXPECT_EQ(p.GetProperty("COLORMAPITEM1"), "40,50,60");
  EXPECT_EQ(p.GetProperty("colormapitem"), "10,20,30");  // no index: 0
  EXPECT_EQ(p.GetProperty("COLORMAPITEMx"), "10,20,30");
  EXPECT_EQ(p.GetProperty("COLORMAPITEM2"), "INVALID PROPERTY");   // past the palette
  EXPECT_EQ(p.GetProperty("COLORMAPITEM-1"), "INVALID PROPERTY");
  p.SetProperty("COLORMAPITEM0", "1,2,3");
  EXPECT_EQ(p.COLORMAP[0], CreateRGB(1, 2, 3));
  p.SetProperty("COLORMAPITEM7", "1,2,3");  // out of range: nothing happens
  EXPECT_EQ(p.COLORMAP.size(), 2u);
  p.SetProperty("COLORMAPCOUNT", "200");  // read only: the palette stays consistent
  EXPECT_EQ(p.COLORMAPCOUNT, 2);

  struct Case {
    int fileType;
    void (*setup)(TIOParamsVals&);
    const char* expected;
  };
  const Case cases[] = {
      {0, [](TIOParamsVals&) {}, ""},
      {ioTIFF, [](TIOParamsVals& q) { q.TIFF_COMPRESSION = ioTIFF_LZW; }, "TIFF Bitmap (TIF) LZW"},
      {ioTIFF, [](TIOParamsVals& q) { q.TIFF_COMPRESSION = ioTIFF_UNKNOWN; }, "TIFF Bitmap (TIF)"},
      {ioTIFF, [](TIOParamsVals& q) { q.TIFF_COMPRESSION = static_cast<TIOTIFFCompression>(200); }, "TIFF Bitmap (TIF)"},
      {ioJPEG, [](TIOParamsVals& q) { q.JPEG_COLORSPACE = ioJPEG_YCbCr; }, "JPEG Bitmap (JPG) YCbCr"},
      {ioJPEG, [](TIOParamsVals& q) { q.JPEG_COLORSPACE = ioJPEG_RGB; }, "JPEG Bitmap (JPG)"},
      {ioBMP, [](TIOParamsVals&) {}, "Windows Bitmap (BMP) ver.3"},
      {ioGIF, [](TIOParamsVals& q) { q.GIF_INTERLACED = true; }, "CompuServe Bitmap (GIF) Interlaced"},
      {ioPCX, [](TIOParamsVals& q) { q.PCX_COMPRESSION = ioPCX_UNCOMPRESSED; }, "PaintBrush (PCX) Uncompressed"},
      {ioTGA, [](TIOParamsVals&) {}, "Targa Bitmap (TGA) Compressed"},
      {ioJ2K, [](TIOParamsVals&) {}, "JPEG2000 Code Stream (J2K) RGB"},
      {ioRAW, [](TIOParamsVals& q) { q.RAW_CAMERA.assign(1, 'X'); }, "Camera RAW (CRW) (X)"},
      {ioAVI, [](TIOParamsVals&) {}, ""},
  };
  for (const Case& c : cases) {
    TIOParamsVals q;
    q.FILETYPE = c.fileType;
    c.setup(q);
    EXPECT_EQ(q.GetProperty("FILETYPESTR"), c.expected) << c.fileType;
  }
}

// ---- metadata objects ------------------------------------------------------------------------

TEST(MetadataTest, MarkerSortPutsEXIFFirstAndOrdersICCChunks) {
  TIEMarkerList list;
  auto icc = [](std::uint8_t seq) {
    std::vector<std::uint8_t> d(20, 0);
    std::memcpy(d.data(), "ICC_PROFILE", 12);
    d[12] = seq;
    d[13] = 2;
    return d;
  };
  const char exif[] = "Exif\0\0MM";
  const auto icc2 = icc(2), icc1 = icc(1);
  list.AddMarker(0xFE, "comment", 7);
  list.AddMarker(0xE2, icc2.data(), 20);
  list.AddMarker(0xE1, "http://ns.adobe.com/xap/1.0/", 28);
  list.AddMarker(0xE1, exif, sizeof exif);
  list.AddMarker(0xE2, icc1.data(), 20);
  list.AddMarker(0xE0, "JFIF", 4);
  list.Sort();
  ASSERT_EQ(list.GetCount(), 6);
  const std::uint8_t order[] = {0xE0, 0xE1, 0xE1, 0xE2, 0xE2, 0xFE};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(list.GetMarkerType(i), order[i]);
  EXPECT_TRUE(IEIsEXIFBlock(list.GetMarkerData(1), list.GetMarkerLength(1)));
  EXPECT_EQ(list.GetMarkerData(3)[12], 1);
  EXPECT_EQ(list.GetMarkerData(4)[12], 2);
  EXPECT_EQ(list.IndexOf(0xFE), 5);
  EXPECT_EQ(list.IndexOf(0xEF), -1);

  std::vector<std::uint8_t> big(70000, 1);
  list.SetMarker(0, 0xE0, big.data(), 70000);
  EXPECT_EQ(list.GetMarkerLength(0), TIEMarkerList::MaxMarkerLength);
}

TEST(MetadataTest, IPTCStandardBufferRoundTrip) {
  TIEIPTCInfoList list;
  list.Items.push_back({2, 0, {0, 2}});  // record version: written by the buffer itself
  list.Items.push_back({2, 5, {'T', 'i', 't', 'l', 'e'}});
  list.Items.push_back({2, 25, {}});  // no data: left out
  list.Items.push_back({2, 120, std::vector<std::uint8_t>(40000, 'c')});  // extended length
  for (bool jpeg : {false, true}) {
    const auto buf = list.SaveToStandardBuffer(jpeg);
    ASSERT_FALSE(buf.empty());
    EXPECT_EQ(buf.size() % 2, 0u);
    TIEIPTCInfoList back;
    ASSERT_TRUE(back.LoadFromStandardBuffer(buf.data(), static_cast<std::int64_t>(buf.size())));
    // The reader keeps the record-version dataset the writer put first.
    ASSERT_EQ(back.Items.size(), jpeg ? 2u : 3u);
    const auto& title = back.Items[back.Items.size() - 2];
    EXPECT_EQ(title.Dataset, 5);
    EXPECT_EQ(title.Data, list.Items[1].Data);
    EXPECT_EQ(back.Items.back().Data.size(), 40000u);
  }
  EXPECT_TRUE(TIEIPTCInfoList{}.SaveToStandardBuffer(true).empty());
  // A record that claims more data than there is ends the parse.
  const std::uint8_t truncated[] = {0x1C, 2, 5, 0, 50, 'a', 'b'};
  TIEIPTCInfoList t;
  EXPECT_FALSE(t.LoadFromStandardBuffer(truncated, sizeof truncated));
  EXPECT_FALSE(t.LoadFromStandardBuffer(truncated, 0));
}

TEST(MetadataTest, ICCHeaderCheck) {
  TIEICC icc;
  EXPECT_FALSE(icc.IsValid());
  std::vector<std::uint8_t> raw(200, 0);
  raw[2] = 0;
  raw[3] = 200;
  std::memcpy(raw.data() + 36, "acsp", 4);
  icc.LoadFromBuffer(raw.data(), 200);
  EXPECT_TRUE(icc.IsValid());
  icc.Raw[3] = 201;  // declared larger than the data
  EXPECT_FALSE(icc.IsValid());
}

TEST(ParamsTest, EXIFThumbnailIs160WideWithTheAspectKept) {
  TIOParamsVals p;
  TIEBitmap image(320, 200, ie24RGB);
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 320; ++x) image.SetPixels_ie24RGB(x, y, CreateRGB(50, 60, 70));
  p.UpdateEXIFThumbnail(image);
  ASSERT_TRUE(p.EXIF_THUMBNAIL);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetWidth(), 160);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetHeight(), 100);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetPixelFormat(), ie24RGB);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetPixels_ie24RGB(159, 99), CreateRGB(50, 60, 70));
  // A format the filter does not handle is still filled (point sampling).
  TIEBitmap palette(80, 40, ie8p);
  palette.SetPalette(3, CreateRGB(1, 2, 3));
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 80; ++x) palette.SetPixels_ie8(x, y, 3);
  p.UpdateEXIFThumbnail(palette);
  ASSERT_TRUE(p.EXIF_THUMBNAIL);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetHeight(), 80);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetPixelFormat(), ie8p);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetPixels_ie8(159, 79), 3);
  EXPECT_EQ(p.EXIF_THUMBNAIL->GetPalette(3), CreateRGB(1, 2, 3));
  TIEBitmap empty;
  p.UpdateEXIFThumbnail(empty);
  EXPECT_FALSE(p.EXIF_THUMBNAIL);
}

TEST(ParamsTest, DatesRoundTrip) {
  EXPECT_EQ(IEEncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(IEEncodeDate(1900, 1, 1), 2.0);
  int y, m, d;
  ASSERT_TRUE(IEDecodeDate(IEEncodeDate(2024, 2, 29) + 0.75, y, m, d));
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_FALSE(IEDecodeDate(1e300, y, m, d));
}

}  // namespace
}  // namespace pravik
