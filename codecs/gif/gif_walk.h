// Private to the GIF codec: one walk through a file that decodes every image
// up to the selected one, for the composition of animation frames.
#pragma once

#include <functional>
#include <memory>

namespace pravik {

class TStream;
class TIEBitmap;
class TIEMask;
class TIOParamsVals;
struct TProgressRec;

// Called for images 0 to GIF_IMAGEINDEX (every image when it is negative or
// past the last), in file order, as each is decoded; the record describes
// that image meanwhile. The mask holds its transparent pixels (null when
// none). Returning false stops the walk.
using TGIFFrameSink = std::function<bool(TIEBitmap& frame, std::unique_ptr<TIEMask>& mask, int index)>;

// Walks the file once as ReadGIFStream does; returns the number of images.
int ReadGIFFrames(TStream& stream, TIOParamsVals& params, TProgressRec& progress, const TGIFFrameSink& sink);

}  // namespace pravik
