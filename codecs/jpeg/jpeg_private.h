// Pieces shared by the JPEG reader, writer and metadata steps.
#pragma once

#include <cstdint>
#include <cstdio>

#include <jpeglib.h>

#include "imageio/paramtypes.h"

namespace pravik {

class TIOParamsVals;

namespace jpegio {

J_DCT_METHOD JpegDctMethod(TIOJPEGDctMethod method);

// The XMP packet header in an APP1 marker: the namespace identifier and a zero.
inline constexpr char kXMPHeader[] = "http://ns.adobe.com/xap/1.0/";  // + its terminating zero
inline constexpr int kXMPHeaderLength = 29;

// True when an APP1 marker's data holds an XMP packet.
bool IsXMPMarker(const std::uint8_t* data, int length);

}  // namespace jpegio

// IPTC_INFO from the first APP13 marker that parses; XMP_INFO from the first
// APP1 marker holding XMP.
void JpegLoadMetadata(TIOParamsVals& params);

// The marker updates the save sequence makes before the writer: the
// resolution in the Photoshop APP13 block, the IPTC block, the XMP block.
void JpegUpdateResolutionBlock(TIOParamsVals& params);
void JpegStoreIPTC(TIOParamsVals& params);
void JpegStoreXMP(TIOParamsVals& params);

}  // namespace pravik
