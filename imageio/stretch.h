// Point-sampled stretching in the image's own pixel format (alpha channel
// included): the square-pixel adjustment after a load and the EXIF thumbnail.
#pragma once

namespace pravik {

class TIEBitmap;

// Makes dest a width x height copy of source, each pixel taken from the
// nearest source pixel. False when source is empty or dest cannot be made.
bool IEStretchPoint(TIEBitmap& source, TIEBitmap& dest, int width, int height);

}  // namespace pravik
