#include "codecs/png/png_lib.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imageio/stream.h"

namespace pravik::pngio {

namespace {

// libpng's own allocations (row buffers, inflate state, text and profile
// chunks) stay below this; the image itself lives in our bitmap. A file of
// many compressed text chunks could otherwise inflate into gigabytes.
constexpr std::int64_t kLibraryBudget = std::int64_t(256) << 20;
// One ancillary chunk's data, inflated, at most.
constexpr png_alloc_size_t kChunkMax = 16u << 20;
// How many text and unknown chunks libpng keeps.
constexpr png_uint_32 kChunkCacheMax = 4096;
// Widest and tallest image libpng accepts; libpng's row buffers grow with
// the width. The decoded-size cap is checked on top of these.
constexpr png_uint_32 kMaxWidth = 1u << 20;
constexpr png_uint_32 kMaxHeight = 1u << 24;

// ---- callbacks: none owns an object with a destructor (libpng's longjmp may cross them)

[[noreturn]] void ErrorFn(png_structp png, png_const_charp message) {
  auto* ctx = static_cast<PngContext*>(png_get_error_ptr(png));
  if (ctx != nullptr && ctx->message[0] == '\0') std::snprintf(ctx->message, sizeof ctx->message, "%s", message);
  png_longjmp(png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

// Each block carries its size in front, for the budget.
constexpr std::size_t kHeader = alignof(std::max_align_t) > 16 ? alignof(std::max_align_t) : 16;

png_voidp MallocFn(png_structp png, png_alloc_size_t size) {
  auto* ctx = static_cast<PngContext*>(png_get_mem_ptr(png));
  if (size > static_cast<png_alloc_size_t>(kLibraryBudget) ||
      ctx->allocated + static_cast<std::int64_t>(size) > kLibraryBudget)
    return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &size, sizeof size);
  ctx->allocated += static_cast<std::int64_t>(size);
  return block + kHeader;
}

void FreeFn(png_structp png, png_voidp p) {
  if (p == nullptr) return;
  auto* ctx = static_cast<PngContext*>(png_get_mem_ptr(png));
  auto* block = static_cast<unsigned char*>(p) - kHeader;
  png_alloc_size_t size;
  std::memcpy(&size, block, sizeof size);
  ctx->allocated -= static_cast<std::int64_t>(size);
  std::free(block);
}

void ReadFn(png_structp png, png_bytep data, std::size_t length) {
  auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  std::int64_t got = 0;
  try {
    while (got < static_cast<std::int64_t>(length)) {
      const std::int64_t n = ctx->stream->Read(data + got, static_cast<std::int64_t>(length) - got);
      if (n <= 0) break;
      got += n;
    }
  } catch (...) {
    got = -1;  // an unreadable stream ends the data
  }
  if (got != static_cast<std::int64_t>(length)) {
    ctx->shortRead = true;
    png_error(png, "truncated PNG data");
  }
}

void WriteFn(png_structp png, png_bytep data, std::size_t length) {
  auto* ctx = static_cast<PngContext*>(png_get_io_ptr(png));
  SafeStreamWrite(*ctx->stream, *ctx->abortFlag, data, static_cast<std::int64_t>(length));
}

void FlushFn(png_structp) {}

void InitContext(PngContext& ctx, TStream& stream, bool* abortFlag) {
  ctx.stream = &stream;
  ctx.abortFlag = abortFlag;
  ctx.shortRead = false;
  ctx.allocated = 0;
  ctx.message[0] = '\0';
}

}  // namespace

PngReadStruct::PngReadStruct(TStream& stream) {
  InitContext(ctx, stream, nullptr);
  png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &ctx, ErrorFn, WarningFn, &ctx, MallocFn, FreeFn);
  if (png == nullptr) return;
  info = png_create_info_struct(png);
  png_set_read_fn(png, &ctx, ReadFn);
  png_set_user_limits(png, kMaxWidth, kMaxHeight);
  png_set_chunk_malloc_max(png, kChunkMax);
  png_set_chunk_cache_max(png, kChunkCacheMax);
}

PngReadStruct::~PngReadStruct() {
  if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
}

PngWriteStruct::PngWriteStruct(TStream& stream, bool* abortFlag) {
  InitContext(ctx, stream, abortFlag);
  png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &ctx, ErrorFn, WarningFn, &ctx, MallocFn, FreeFn);
  if (png == nullptr) return;
  info = png_create_info_struct(png);
  png_set_write_fn(png, &ctx, WriteFn, FlushFn);
}

PngWriteStruct::~PngWriteStruct() {
  if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
}

}  // namespace pravik::pngio
