// JPEG reader and writer over libjpeg (the 6.2 interface of libjpeg-turbo).
#pragma once

#include <cstdint>
#include <stdexcept>

namespace pravik {

class TStream;
class TIEBitmap;
class TIOParamsVals;
struct TProgressRec;

// A libjpeg error (its own message text). The reader catches its own; the
// writer lets it reach the caller after setting the abort flag.
class EIEJpegException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decodes the JPEG found within the first 150 bytes from the stream's
// position. tablesStream (or null) holds an abbreviated stream of tables read
// first (TIFF's JPEG tables). headerOnly fills the record only; rawYCbCr
// delivers YCbCr samples of a YCbCr file unconverted; loadMetadata fills
// IPTC_INFO and XMP_INFO from the markers; invertCMYK complements CMYK samples
// (files that store ink amounts); readICC loads INPUTICC; lines is the number
// of rows to decode (-1: all); nativePixelFormat keeps grey and CMYK images
// as ie8g and ieCMYK. Returns the number of rows decoded. Bad data:
// progress.Fail(reason), with the rows decoded so far kept.
int ReadJPegStream(TStream& stream, TStream* tablesStream, TIEBitmap& bitmap, TIOParamsVals& params,
                   TProgressRec& progress, bool headerOnly, bool rawYCbCr, bool loadMetadata, bool invertCMYK,
                   bool dropICCMarkers, bool readICC, int lines, bool nativePixelFormat);

// Writes one complete JPEG file (SOI to EOI) of the whole bitmap with the
// record's settings and markers. Raises EIEJpegException on a libjpeg error.
void WriteJPegStream(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

// Stream position of the first SOI followed by another marker (FF D8 FF)
// starting within the next 150 bytes, or -1. The position is restored.
std::int64_t JpegTryStream(TStream& stream);
// Content test for detection: JpegTryStream found a start.
bool IEJpegContentTest(TStream& stream);

// Loads the ICC profile carried in APP2 chunks before the frame header into
// INPUTICC. Reads from the stream's position and restores it.
void IEGetJpegICC(TStream& stream, TIOParamsVals& params);

// The load and save steps the front runs for JPEG (codec table): the reader
// with metadata, and the marker updates (resolution block, IPTC, XMP)
// before the writer.
void JPEGFrameRead(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress, bool preview);
void JPEGFrameWrite(TStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, TProgressRec& progress);

}  // namespace pravik
