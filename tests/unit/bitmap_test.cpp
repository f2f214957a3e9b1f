#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "image/bitmap.h"
#include "image/mask.h"

namespace pravik {
namespace {

// Restores the process-wide storage knobs a test changes.
struct StorageKnobs {
  std::int64_t minFile = IEDefMinFileSize;
  std::int64_t maxBlock = iegMaxMemoryBlock;
  std::string tempPath = iegDefTempPath;
  ~StorageKnobs() {
    IEDefMinFileSize = minFile;
    iegMaxMemoryBlock = maxBlock;
    std::snprintf(iegDefTempPath, sizeof iegDefTempPath, "%s", tempPath.c_str());
  }
};

// A private temporary folder, so leftover row files can be counted.
struct TempFolder {
  std::filesystem::path path;
  TempFolder() {
    path = std::filesystem::temp_directory_path() /
           ("pravik-bitmap-test-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
    std::filesystem::create_directories(path);
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  int Count() const {
    int n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(path)) ++n;
    return n;
  }
  void UseForRows() const {
    const std::string s = path.string() + "/";
    std::snprintf(iegDefTempPath, sizeof iegDefTempPath, "%s", s.c_str());
  }
};

// Writes a recognisable byte pattern through GetScanLine and checks it back.
void WritePattern(TIEBitmap& bmp, int seed) {
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    std::uint8_t* row = bmp.GetScanLine(y);
    for (int i = 0; i < bmp.GetRowLen(); ++i) row[i] = static_cast<std::uint8_t>(y * 31 + i * 7 + seed);
  }
}
bool HasPattern(TIEBitmap& bmp, int seed, int bytes = -1) {
  if (bytes < 0) bytes = bmp.GetRowLen();
  for (int y = 0; y < bmp.GetHeight(); ++y) {
    const std::uint8_t* row = bmp.GetScanLine(y);
    for (int i = 0; i < bytes; ++i)
      if (row[i] != static_cast<std::uint8_t>(y * 31 + i * 7 + seed)) return false;
  }
  return true;
}

TEST(BitmapTest, AllocationSizesAndEmptiness) {
  TIEBitmap a(1, 1, ie1g);
  EXPECT_EQ(a.GetRowLen(), 4);
  a.GetScanLine(0)[0] = 0x80;
  EXPECT_TRUE(a.GetPixels_ie1g(0, 0));

  TIEBitmap b(3, 2, ie24RGB);
  EXPECT_EQ(b.GetRowLen(), 12);
  EXPECT_EQ(b.GetBitCount(), 24);
  EXPECT_EQ(b.GetChannelCount(), 3);
  EXPECT_EQ(b.GetPaletteLen(), 0);

  TIEBitmap c;
  EXPECT_FALSE(c.Allocate(0, 10, ie24RGB));
  EXPECT_TRUE(c.IsEmpty());
  EXPECT_EQ(c.GetWidth(), 0);
  EXPECT_EQ(c.GetHeight(), 0);
  EXPECT_FALSE(c.Allocate(10, 10, ienull));
  EXPECT_EQ(c.GetScanLine(0), nullptr);

  TIEBitmap p(4, 4, ie8p);
  EXPECT_EQ(p.GetPaletteLen(), 256);
}

TEST(BitmapTest, NewPixelsAreZero) {
  TIEBitmap bmp(37, 11, ie24RGB);
  EXPECT_TRUE(bmp.IsAllBlack());
}

TEST(BitmapTest, OneBlockStoreIsBottomUpAndAligned) {
  TIEBitmap bmp(5, 4, ie24RGB);
  ASSERT_EQ(bmp.GetLocation(), ieMemory);
  std::uint8_t* row0 = bmp.GetScanLine(0);
  std::uint8_t* last = bmp.GetScanLine(3);
  EXPECT_EQ(row0, last + 3 * bmp.GetRowLen());
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(last) % 64, 0u);
  row0[0] = 10;  // blue
  row0[1] = 20;
  row0[2] = 30;
  EXPECT_EQ(bmp.GetPixels(0, 0), CreateRGB(30, 20, 10));
}

TEST(BitmapTest, ForceReallocateKeepsPixelsWhenNothingChanged) {
  TIEBitmap bmp(4, 4, ie8g);
  bmp.SetPixels_ie8(1, 1, 77);
  EXPECT_TRUE(bmp.Allocate(4, 4, ie8g));  // ForceReallocate was cleared by the first allocation
  EXPECT_EQ(bmp.GetPixels_ie8(1, 1), 77);
  bmp.ForceReallocate = true;
  EXPECT_TRUE(bmp.Allocate(4, 4, ie8g));
  EXPECT_EQ(bmp.GetPixels_ie8(1, 1), 0);
}

TEST(BitmapTest, FileStoreKeepsRowsAndLeavesNothingBehind) {
  StorageKnobs knobs;
  TempFolder folder;
  folder.UseForRows();
  IEDefMinFileSize = 100;
  {
    TIEBitmap bmp(50, 20, ie24RGB);
    ASSERT_FALSE(bmp.IsEmpty());
    EXPECT_EQ(bmp.GetLocation(), ieFile);
    EXPECT_TRUE(bmp.IsAllBlack());
    WritePattern(bmp, 3);
    EXPECT_TRUE(HasPattern(bmp, 3));
    bmp.GetScanLine(7)[5] = 0xAB;
    bmp.GetScanLine(8);  // fetching another row writes row 7 back
    EXPECT_EQ(bmp.GetScanLine(7)[5], 0xAB);

    // Rows held at once stay valid together.
    std::uint8_t* r2 = bmp.GetRow(2);
    std::uint8_t* r3 = bmp.GetRow(3);
    r2[0] = 1;
    r3[0] = 2;
    bmp.FreeRow(2);
    bmp.FreeRow(3);
    EXPECT_EQ(bmp.GetScanLine(2)[0], 1);
    EXPECT_EQ(bmp.GetScanLine(3)[0], 2);

    // Read-only access never writes the working row back.
    bmp.RowAccess = iedRead;
    bmp.GetScanLine(4)[0] = 99;
    bmp.GetScanLine(5);
    bmp.RowAccess = iedReadWrite;
    EXPECT_NE(bmp.GetScanLine(4)[0], 99);
  }
  EXPECT_EQ(folder.Count(), 0);
}

TEST(BitmapTest, FallsBackToFragmentsThenToAFile) {
  StorageKnobs knobs;
  TempFolder folder;
  folder.UseForRows();
  // One block of this size is refused, four fragments are not.
  iegMaxMemoryBlock = 300 * 100;
  TIEBitmap frag(100, 300, ie24RGB);
  ASSERT_FALSE(frag.IsEmpty());
  EXPECT_EQ(frag.GetLocation(), ieMemory);
  EXPECT_NE(frag.GetScanLine(1), frag.GetScanLine(0) - frag.GetRowLen());  // not one bottom-up block
  WritePattern(frag, 9);
  EXPECT_TRUE(HasPattern(frag, 9));

  iegMaxMemoryBlock = 16;  // nothing from memory at all
  TIEBitmap file(100, 30, ie24RGB);
  ASSERT_FALSE(file.IsEmpty());
  EXPECT_EQ(file.GetLocation(), ieFile);
  WritePattern(file, 1);
  EXPECT_TRUE(HasPattern(file, 1));
}

TEST(BitmapTest, AssignAndSetLocationAcrossStores) {
  StorageKnobs knobs;
  TempFolder folder;
  folder.UseForRows();
  TIEBitmap mem(40, 9, ie48RGB);
  WritePattern(mem, 5);
  mem.SetLocation(ieFile);
  EXPECT_EQ(mem.GetLocation(), ieFile);
  EXPECT_TRUE(HasPattern(mem, 5));

  TIEBitmap fileCopy;
  fileCopy.FileStorageThreshold = 10;  // file to file: a whole-file copy
  fileCopy.Assign(mem);
  EXPECT_EQ(fileCopy.GetLocation(), ieFile);
  EXPECT_TRUE(HasPattern(fileCopy, 5));

  TIEBitmap memCopy;
  memCopy.Assign(fileCopy);
  EXPECT_EQ(memCopy.GetLocation(), ieMemory);
  EXPECT_TRUE(HasPattern(memCopy, 5));

  mem.SetLocation(ieMemory);
  EXPECT_EQ(mem.GetLocation(), ieMemory);
  EXPECT_TRUE(HasPattern(mem, 5));
}

TEST(BitmapTest, AlphaChannelLifecycle) {
  TIEBitmap bmp(3, 2, ie24RGB);
  EXPECT_FALSE(bmp.GetHasAlphaChannel());
  EXPECT_EQ(bmp.GetAlpha(1, 1), 255);  // reading creates it, all opaque
  TIEBitmap* a = bmp.GetAlphaChannel();
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(bmp.GetHasAlphaChannel());
  EXPECT_EQ(a->GetPixelFormat(), ie8g);
  EXPECT_TRUE(a->ServesAsAlpha());
  EXPECT_TRUE(a->AllSet);
  EXPECT_EQ(a->GetAlphaChannel(), nullptr);  // an alpha channel has none of its own

  bmp.AllSet = true;
  bmp.SetAlpha(0, 0, 10);
  EXPECT_FALSE(a->AllSet);
  EXPECT_FALSE(bmp.AllSet);

  // Allocate drops it.
  bmp.ForceReallocate = true;
  bmp.Allocate(3, 2, ie24RGB);
  EXPECT_FALSE(bmp.GetHasAlphaChannel());
}

TEST(BitmapTest, RemoveAlphaChannelMergesOntoBackground) {
  struct Case { TRGB pixel; std::uint8_t alpha; TColor bg; TRGB expected; };
  const Case cases[] = {
      {CreateRGB(0, 0, 0), 0, clWhite, CreateRGB(255, 255, 255)},
      {CreateRGB(0, 0, 0), 255, clWhite, CreateRGB(0, 0, 0)},
      {CreateRGB(255, 255, 255), 255, clBlack, CreateRGB(254, 254, 254)},  // 255/256 of the difference
      {CreateRGB(100, 0, 200), 128, clBlack, CreateRGB(50, 0, 100)},
      {CreateRGB(0, 100, 0), 128, 0x0000FF, CreateRGB(127, 50, 0)},  // red background: floor of a negative step
  };
  for (const Case& c : cases) {
    TIEBitmap bmp(1, 1, ie24RGB);
    bmp.SetPixels_ie24RGB(0, 0, c.pixel);
    bmp.SetAlpha(0, 0, c.alpha);
    bmp.RemoveAlphaChannel(true, c.bg);
    EXPECT_FALSE(bmp.GetHasAlphaChannel());
    EXPECT_EQ(bmp.GetPixels_ie24RGB(0, 0), c.expected) << int(c.alpha);
  }
}

TEST(BitmapTest, SynchronizeRGBAMovesTheFourthByte) {
  TIEBitmap bmp(2, 1, ie32RGB);
  bmp.GetScanLine(0)[3] = 7;
  bmp.GetScanLine(0)[7] = 255;
  bmp.SynchronizeRGBA(true);
  EXPECT_EQ(bmp.GetAlpha(0, 0), 7);
  EXPECT_EQ(bmp.GetAlpha(1, 0), 255);
  EXPECT_FALSE(bmp.GetAlphaChannel()->AllSet);
  bmp.SetAlpha(0, 0, 200);
  bmp.SynchronizeRGBA(false);
  EXPECT_EQ(bmp.GetScanLine(0)[3], 200);
}

TEST(BitmapTest, AllSetFollowsFillsAndSetters) {
  TIEBitmap g(3, 3, ie8g);
  g.Fill(255);
  EXPECT_TRUE(g.AllSet);
  g.SetPixels_ie8(0, 0, 254);
  EXPECT_FALSE(g.AllSet);
  g.SetPixels_ie8(0, 0, 255);
  EXPECT_FALSE(g.AllSet);  // setters never set it
  g.SyncFull();
  EXPECT_TRUE(g.AllSet);

  // Padding bits of a 1-bit row do not count.
  TIEBitmap b(3, 2, ie1g);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) b.SetPixels_ie1g(x, y, true);
  b.SyncFull();
  EXPECT_TRUE(b.AllSet);
  b.SetPixels_ie1g(2, 1, false);
  EXPECT_FALSE(b.AllSet);

  TIEBitmap f(2, 2, ie32f);
  f.Fill(1.0);
  EXPECT_TRUE(f.AllSet);
  f.SetPixels_ie32f(1, 1, 0.5f);
  EXPECT_FALSE(f.AllSet);
}

TEST(BitmapTest, FillStoresTheValuePerFormat) {
  TIEBitmap rgb32(3, 2, ie32RGB);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) rgb32.GetScanLine(y)[4 * x + 3] = static_cast<std::uint8_t>(x + 10 * y);
  rgb32.Fill(0x0000FF);  // red as a platform colour
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(rgb32.GetPixels(x, y), CreateRGB(255, 0, 0));
      EXPECT_EQ(rgb32.GetScanLine(y)[4 * x + 3], x + 10 * y);
    }

  TIEBitmap w48(2, 1, ie48RGB);
  w48.Fill(0x804020);
  EXPECT_EQ(w48.GetPixels_ie48RGB(1, 0), (TRGB48{0x2020, 0x4040, 0x8080}));

  TIEBitmap g16(2, 1, ie16g);
  g16.Fill(70000.0);  // low 16 bits kept
  EXPECT_EQ(g16.GetPixels_ie16g(0, 0), 70000 & 0xFFFF);

  TIEBitmap bw(10, 3, ie1g);
  bw.Fill(1);
  EXPECT_TRUE(bw.AllSet);
  bw.FillRect(2, 1, 4, 1, 0);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(bw.GetPixels_ie1g(x, 1), x < 2 || x > 4) << x;
  EXPECT_TRUE(bw.GetPixels_ie1g(3, 0));

  // FillRect clips and leaves AllSet alone.
  TIEBitmap g(4, 4, ie8g);
  g.Fill(255);
  g.FillRect(-5, -5, 1, 1, 9);
  EXPECT_EQ(g.GetPixels_ie8(1, 1), 9);
  EXPECT_EQ(g.GetPixels_ie8(2, 2), 255);
  EXPECT_TRUE(g.AllSet);
}

TEST(BitmapTest, PaletteBoundsAndCopy) {
  TIEBitmap p(2, 2, ie8p);
  p.SetPalette(5, CreateRGB(1, 2, 3));
  p.SetPalette(300, CreateRGB(9, 9, 9));
  p.SetPalette(-1, CreateRGB(9, 9, 9));
  EXPECT_EQ(p.GetPalette(5), CreateRGB(1, 2, 3));
  EXPECT_EQ(p.GetPalette(300), TRGB{});
  p.PaletteColorCount = 16;

  TIEBitmap q(2, 2, ie8p);
  p.CopyPaletteTo(q);
  EXPECT_EQ(q.GetPalette(5), CreateRGB(1, 2, 3));
  EXPECT_EQ(q.PaletteColorCount, 16);

  TIEBitmap rgb(2, 2, ie24RGB);
  rgb.CopyPaletteTo(q);  // a source without palette clears the target's
  EXPECT_EQ(q.GetPaletteLen(), 0);
  EXPECT_EQ(q.PaletteColorCount, 256);
}

TEST(BitmapTest, AssignCopiesEverythingIncludingAlpha) {
  TIEBitmap src(3, 2, ie8p);
  src.SetPalette(1, CreateRGB(10, 20, 30));
  src.SetPixels_ie8(2, 1, 1);
  src.PaletteColorCount = 2;
  src.SetAlpha(2, 1, 50);

  TIEBitmap dst(9, 9, ie24RGB);
  dst.Assign(src);
  EXPECT_EQ(dst.GetWidth(), 3);
  EXPECT_EQ(dst.GetPixelFormat(), ie8p);
  EXPECT_EQ(dst.GetPixels(2, 1), CreateRGB(10, 20, 30));
  EXPECT_EQ(dst.PaletteColorCount, 2);
  ASSERT_TRUE(dst.GetHasAlphaChannel());
  EXPECT_NE(dst.GetAlphaChannel(), src.GetAlphaChannel());
  EXPECT_EQ(dst.GetAlpha(2, 1), 50);

  TIEBitmap plain(2, 2, ie8g);
  dst.Assign(plain);
  EXPECT_FALSE(dst.GetHasAlphaChannel());

  TIEBitmap empty;
  dst.Assign(empty);
  EXPECT_TRUE(dst.IsEmpty());

  // AssignImage keeps the target's own alpha and alignment.
  TIEBitmap own(2, 2, ie24RGB);
  own.SetAlpha(0, 0, 3);
  own.SetBitAlignment(8);
  TIEBitmap other(3, 1, ie24RGB);
  other.SetPixels_ie24RGB(2, 0, CreateRGB(1, 2, 3));
  own.AssignImage(other);
  EXPECT_EQ(own.GetRowLen(), 9);
  EXPECT_EQ(own.GetPixels_ie24RGB(2, 0), CreateRGB(1, 2, 3));
  EXPECT_EQ(own.GetAlpha(0, 0), 3);
}

TEST(BitmapTest, SwitchToMovesTheImage) {
  TIEBitmap a(4, 3, ie8p);
  a.SetPalette(0, CreateRGB(5, 5, 5));
  a.SetAlpha(1, 1, 9);
  TIEBitmap b(1, 1, ie24RGB);
  a.SwitchTo(b);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_FALSE(a.GetHasAlphaChannel());
  EXPECT_TRUE(a.ForceReallocate);
  EXPECT_EQ(b.GetWidth(), 4);
  EXPECT_EQ(b.GetPixelFormat(), ie8p);
  EXPECT_EQ(b.GetPalette(0), CreateRGB(5, 5, 5));
  EXPECT_EQ(b.GetAlpha(1, 1), 9);
}

TEST(BitmapTest, SetWidthHeightAndAlignmentKeepTheTopLeft) {
  TIEBitmap bmp(3, 3, ie24RGB);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) bmp.SetPixels_ie24RGB(x, y, CreateRGB(x, y, 7));
  bmp.SetAlpha(1, 1, 42);
  bmp.SetWidth(2);
  bmp.SetHeight(5);
  EXPECT_EQ(bmp.GetWidth(), 2);
  EXPECT_EQ(bmp.GetHeight(), 5);
  EXPECT_EQ(bmp.GetAlphaChannel()->GetHeight(), 5);
  EXPECT_EQ(bmp.GetAlpha(1, 1), 42);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(bmp.GetPixels_ie24RGB(x, y), CreateRGB(x, y, 7));

  bmp.SetBitAlignment(8);
  EXPECT_EQ(bmp.GetRowLen(), 6);
  EXPECT_TRUE(bmp.ForceReallocate);
  EXPECT_EQ(bmp.GetPixels_ie24RGB(1, 2), CreateRGB(1, 2, 7));

  TIEBitmap empty;
  empty.SetWidth(10);
  EXPECT_EQ(empty.GetWidth(), 10);
  EXPECT_TRUE(empty.IsEmpty());
}

// 4 x 3 ie8g image whose pixel (x, y) holds 10 * y + x + 1.
void FillIndexed(TIEBitmap& bmp) {
  for (int y = 0; y < bmp.GetHeight(); ++y)
    for (int x = 0; x < bmp.GetWidth(); ++x) bmp.SetPixels_ie8(x, y, static_cast<std::uint8_t>(10 * y + x + 1));
}

TEST(BitmapTest, CanvasResizeAlignsOldContent) {
  struct Case { int w, h; TIEHAlign ha; TIEVAlign va; std::vector<int> expected; };
  const Case cases[] = {
      {2, 2, iehLeft, ievTop, {1, 2, 11, 12}},
      {2, 2, iehRight, ievBottom, {13, 14, 23, 24}},
      {2, 1, iehCenter, ievCenter, {12, 13}},
      {6, 3, iehCenter, ievTop, {0, 1, 2, 3, 4, 0, 0, 11, 12, 13, 14, 0, 0, 21, 22, 23, 24, 0}},
      {4, 5, iehLeft, ievBottom, {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 11, 12, 13, 14, 21, 22, 23, 24}},
      {5, 2, iehRight, ievCenter, {0, 1, 2, 3, 4, 0, 11, 12, 13, 14}},  // (3 - 2) div 2 = 0 rows cut at the top
  };
  for (const Case& c : cases) {
    TIEBitmap bmp(4, 3, ie8g);
    FillIndexed(bmp);
    bmp.SetAlpha(0, 0, 5);
    bmp.Resize(c.w, c.h, 0, 77, c.ha, c.va);
    ASSERT_EQ(bmp.GetWidth(), c.w);
    ASSERT_EQ(bmp.GetHeight(), c.h);
    std::vector<int> got;
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) got.push_back(bmp.GetPixels_ie8(x, y));
    EXPECT_EQ(got, c.expected) << c.w << "x" << c.h;
    ASSERT_TRUE(bmp.GetHasAlphaChannel());
    EXPECT_EQ(bmp.GetAlphaChannel()->GetWidth(), c.w);
  }
  // Grown area of the alpha channel takes the alpha fill.
  TIEBitmap bmp(2, 2, ie24RGB);
  bmp.SetAlpha(0, 0, 5);
  bmp.Resize(3, 2, 0xFFFFFF, 77, iehLeft, ievTop);
  EXPECT_EQ(bmp.GetAlpha(0, 0), 5);
  EXPECT_EQ(bmp.GetAlpha(2, 1), 77);
  EXPECT_EQ(bmp.GetPixels_ie24RGB(2, 0), CreateRGB(255, 255, 255));
}

TEST(BitmapTest, CopyRectClipsAndConverts) {
  TIEBitmap src(4, 3, ie8g);
  FillIndexed(src);
  TIEBitmap dst(3, 3, ie8g);
  src.CopyRectTo(dst, 0, 0, -1, -1, 4, 4);  // negative target moves the source
  EXPECT_EQ(dst.GetPixels_ie8(0, 0), 12);
  EXPECT_EQ(dst.GetPixels_ie8(2, 1), 24);
  EXPECT_EQ(dst.GetPixels_ie8(2, 2), 0);  // nothing left for the last row

  TIEBitmap bits(9, 1, ie1g);
  bits.SetPixels_ie1g(8, 0, true);
  TIEBitmap bits2(9, 1, ie1g);
  bits.CopyRectTo(bits2, 7, 0, 0, 0, 2, 1);
  EXPECT_FALSE(bits2.GetPixels_ie1g(0, 0));
  EXPECT_TRUE(bits2.GetPixels_ie1g(1, 0));

  TIEBitmap rgb(9, 1, ie24RGB);
  bits.CopyRectTo(rgb, 0, 0, 0, 0, 9, 1);
  EXPECT_EQ(rgb.GetPixels_ie24RGB(8, 0), CreateRGB(255, 255, 255));
  EXPECT_EQ(rgb.GetPixels_ie24RGB(7, 0), CreateRGB(0, 0, 0));

  TIEBitmap other(4, 3, ie16g);  // a pair without a rule copies nothing
  src.CopyRectTo(other, 0, 0, 0, 0, 4, 3);
  EXPECT_TRUE(other.IsAllBlack());

  // Alpha merge keeps the larger value.
  src.SetAlpha(1, 1, 200);
  dst.SetAlpha(0, 0, 100);
  dst.SetAlpha(1, 0, 10);
  src.MergeAlphaRectTo(dst, 1, 1, 0, 0, 2, 1);
  EXPECT_EQ(dst.GetAlpha(0, 0), 200);
  EXPECT_EQ(dst.GetAlpha(1, 0), 255);
}

TEST(BitmapTest, MaskCopiesBothWays) {
  TIEBitmap g(5, 2, ie8g);
  g.Fill(255);
  g.SetPixels_ie8(4, 1, 3);
  TIEMask mask;
  g.CopyToTIEMask(mask);
  EXPECT_EQ(mask.BitsPerPixel(), 8);
  EXPECT_EQ(mask.GetPixel(4, 1), 3);
  EXPECT_FALSE(mask.AllSet);

  TIEBitmap back;
  back.CopyFromTIEMask(&mask);
  EXPECT_EQ(back.GetPixelFormat(), ie8g);
  EXPECT_EQ(back.GetPixels_ie8(4, 1), 3);
  EXPECT_EQ(back.GetPixels_ie8(0, 0), 255);

  TIEMask bits;
  bits.AllocateBits(10, 2, 1);
  bits.SetPixel(9, 1, 1);
  TIEBitmap b;
  b.CopyFromTIEMask(&bits);
  EXPECT_EQ(b.GetPixelFormat(), ie1g);
  EXPECT_TRUE(b.GetPixels_ie1g(9, 1));
  EXPECT_FALSE(b.GetPixels_ie1g(8, 1));

  TIEBitmap noMask(2, 2, ie8g);
  noMask.CopyFromTIEMask(nullptr);
  EXPECT_TRUE(noMask.AllSet);
}

TEST(MaskTest, BoundingBoxFillAndSync) {
  TIEMask m;
  m.AllocateBits(10, 5, 1);
  EXPECT_TRUE(m.IsEmpty());
  EXPECT_EQ(m.RowLen(), 4);
  m.SetPixel(-1, 0, 1);  // outside: nothing
  m.SetPixel(3, 2, 1);
  m.SetPixel(7, 1, 1);
  EXPECT_FALSE(m.IsEmpty());
  EXPECT_EQ(m.Left(), 3);
  EXPECT_EQ(m.Right(), 7);
  EXPECT_EQ(m.Top(), 1);
  EXPECT_EQ(m.Bottom(), 2);
  EXPECT_EQ(m.GetPixel(3, 2), 1);
  EXPECT_EQ(m.GetPixel(30, 2), 0);
  m.Fill(0);
  EXPECT_TRUE(m.AllSet);  // a 1-bit mask is AllSet after any Fill
  m.Empty();
  EXPECT_TRUE(m.IsEmpty());
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 10; ++x) m.SetPixel(x, y, 1);
  m.SyncFull();  // trailing pixels checked one by one, padding ignored
  EXPECT_TRUE(m.AllSet);

  TIEMask g;
  g.AllocateBits(3, 3, 8);
  g.Fill(254);
  EXPECT_FALSE(g.AllSet);
  g.Fill(255);
  EXPECT_TRUE(g.AllSet);
}

TEST(BitmapTest, GrayScaleAndBlackScans) {
  TIEBitmap rgb(2, 2, ie24RGB);
  EXPECT_TRUE(rgb.IsGrayScale());
  EXPECT_TRUE(rgb.IsAllBlack());
  rgb.SetPixels_ie24RGB(1, 1, CreateRGB(1, 1, 2));
  EXPECT_FALSE(rgb.IsGrayScale());
  EXPECT_FALSE(rgb.IsAllBlack());
  TIEBitmap p(2, 2, ie8p);
  for (int i = 0; i < 256; ++i) p.SetPalette(i, CreateRGB(i, i, i));
  EXPECT_TRUE(p.IsGrayScale());
  p.SetPalette(255, CreateRGB(1, 0, 0));
  EXPECT_FALSE(p.IsGrayScale());
  TIEBitmap f(2, 2, ie32f);
  EXPECT_TRUE(f.IsGrayScale());
}

// Orientation: every value, on formats of every pixel size, with alpha.
TEST(BitmapTest, ExifOrientationTurnsPixelsAndAlpha) {
  constexpr int W = 3, H = 2;
  // Where the source pixel (x, y) must land, per orientation value.
  auto target = [](int o, int x, int y, int& tx, int& ty) {
    switch (o) {
      case 2: tx = W - 1 - x; ty = y; break;
      case 3: tx = W - 1 - x; ty = H - 1 - y; break;
      case 4: tx = x; ty = H - 1 - y; break;
      case 5: tx = y; ty = x; break;
      case 6: tx = H - 1 - y; ty = x; break;
      case 7: tx = H - 1 - y; ty = W - 1 - x; break;
      case 8: tx = y; ty = W - 1 - x; break;
      default: tx = x; ty = y; break;
    }
  };
  const TIEPixelFormat formats[] = {ie1g, ie8g, ie16g, ie24RGB, ie48RGB, ie32RGB};
  for (TIEPixelFormat pf : formats) {
    for (int o = 0; o <= 9; ++o) {
      TIEBitmap bmp(W, H, pf);
      // A distinct value per pixel (for ie1g a pattern that no flip keeps).
      auto value = [&](int x, int y) {
        if (pf == ie1g) return int((x + 2 * y) % 3 == 0);
        return (1 + x + W * y) * (pf == ie16g ? 256 : 1);  // GetPixels shows the high byte of ie16g
      };
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          const int v = value(x, y);
          if (pf == ie1g) bmp.SetPixels_ie1g(x, y, v != 0);
          else bmp.FillRect(x, y, x, y, v);
          bmp.SetAlpha(x, y, static_cast<std::uint8_t>(100 + x + W * y));
        }
      IEAdjustEXIFOrientation(bmp, o);
      const bool turned = o >= 5 && o <= 8;
      ASSERT_EQ(bmp.GetWidth(), turned ? H : W) << int(pf) << " o=" << o;
      ASSERT_EQ(bmp.GetHeight(), turned ? W : H);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
          int tx, ty;
          target(o, x, y, tx, ty);
          TIEBitmap probe(1, 1, pf);
          if (pf == ie1g) probe.SetPixels_ie1g(0, 0, value(x, y) != 0);
          else probe.FillRect(0, 0, 0, 0, value(x, y));
          EXPECT_EQ(bmp.GetPixels(tx, ty), probe.GetPixels(0, 0)) << int(pf) << " o=" << o << " " << x << "," << y;
          EXPECT_EQ(bmp.GetAlpha(tx, ty), 100 + x + W * y) << int(pf) << " o=" << o;
        }
    }
  }
}

}  // namespace
}  // namespace pravik
