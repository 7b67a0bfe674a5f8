// The PNG decoder of the image registry: glue over libpng that delivers every
// PNG as 8-bit blue-green-red rows (with alpha where the image has it), read
// from memory and bounded by the image's real length. libpng reports errors
// by jumping back through its jump buffer; all state a jump must survive lives
// in the module record, not in locals.
#include <png.h>

#include <cstring>

#include "screen/decoders.h"
#include "screen/sprites.h"

// The one image being decoded: alive from a successful probe to the end of
// the decode that follows it (or the next probe).
struct PngDecoderState {
  png_structp read;
  png_infop info;
  uint32_t width;
  uint32_t height;
  int32_t bitDepth;
  int32_t colourType;
  int32_t channels;  // what the probe announced: 3 or 4
  const uint8_t* readPosition;
  const uint8_t* readEnd;
};

static PngDecoderState Png;

// Largest chunk the decoder buffers whole.
static const png_alloc_size_t PNG_CHUNK_MAX_BYTES = 8000000;
int32_t PngDecoderRegistered;

static void PngStateDestroy() {
  if (Png.read) png_destroy_read_struct(&Png.read, &Png.info, nullptr);
  Png.read = nullptr;
  Png.info = nullptr;
}

// Errors end in the jump buffer; neither errors nor warnings print anything.
static void PngError(png_structp read, png_const_charp) { png_longjmp(read, 1); }
static void PngWarning(png_structp, png_const_charp) {}

// Copies the next bytes of the image; a read past its end is a libpng error.
static void PngReadFromMemory(png_structp read, png_bytep destination, size_t length) {
  if (length > static_cast<size_t>(Png.readEnd - Png.readPosition)) png_error(read, "image truncated");
  std::memcpy(destination, Png.readPosition, length);
  Png.readPosition += length;
}

// 1 (three bytes per pixel) or 2 (four, with alpha) for a PNG whose header
// reads well and whose size is within the sprite limits, 0 otherwise.
static int32_t PngProbe(void*, const uint8_t* image, uint32_t size) {
  PngStateDestroy();  // a probe whose decode never came
  if (!image || size < 8 || png_sig_cmp(image, 0, 8)) return 0;
  Png.read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!Png.read) return 0;
  Png.info = nullptr;
  if (setjmp(png_jmpbuf(Png.read))) {
    PngStateDestroy();
    return 0;
  }
  Png.readPosition = image;
  Png.readEnd = image + size;
  png_set_read_fn(Png.read, nullptr, PngReadFromMemory);
  // Oversized images fail in png_read_info, before anything is allocated for them.
  png_set_user_limits(Png.read, SPRITE_MAX_SIDE, SPRITE_MAX_SIDE);
  // Only IHDR, PLTE, tRNS, IDAT and IEND matter here; every other chunk is
  // skipped unread. libpng would otherwise allocate (and clear) whatever length
  // a text or profile chunk claims: a 57-byte file can ask for a gigabyte.
  png_set_keep_unknown_chunks(Png.read, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_chunk_malloc_max(Png.read, PNG_CHUNK_MAX_BYTES);
  Png.info = png_create_info_struct(Png.read);
  if (!Png.info) {
    PngStateDestroy();
    return 0;
  }
  png_read_info(Png.read, Png.info);
  png_uint_32 width, height;
  int bitDepth, colourType, interlace, compression, filter;
  png_get_IHDR(Png.read, Png.info, &width, &height, &bitDepth, &colourType, &interlace, &compression,
               &filter);
  Png.width = width;
  Png.height = height;
  Png.bitDepth = bitDepth;
  Png.colourType = colourType;
  Png.channels = (colourType & PNG_COLOR_MASK_ALPHA) ? 4 : 3;
  return Png.channels == 4 ? 2 : 1;
}

// Reads every pass of every row into rows rowSize bytes apart.
__attribute__((noinline)) static void PngRowsRead(uint8_t* destination, int32_t rowSize, int32_t passes) {
  for (int32_t pass = 0; pass < passes; pass++) {
    uint8_t* row = destination;
    for (uint32_t y = 0; y < Png.height; y++) {
      png_bytep rows[1] = {row};
      png_read_rows(Png.read, rows, nullptr, 1);
      row += rowSize;
    }
  }
}

// Decodes the probed image; an error ends it early, leaving the rows read so far.
static void PngDecode(uint8_t* destination, int32_t rowSize, int32_t) {
  if (!Png.read) return;
  if (!destination || rowSize <= 0) {
    PngStateDestroy();
    return;
  }
  if (setjmp(png_jmpbuf(Png.read))) {
    PngStateDestroy();
    return;
  }
  switch (Png.colourType) {
    case PNG_COLOR_TYPE_PALETTE:
      png_set_palette_to_rgb(Png.read);
      png_set_strip_alpha(Png.read);
      break;
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      // Expands the grey levels only: a tRNS chunk does not become an alpha channel.
      if (Png.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(Png.read);
      png_set_gray_to_rgb(Png.read);
      break;
    default:
      break;
  }
  if (Png.bitDepth == 16) png_set_strip_16(Png.read);
  png_set_bgr(Png.read);
  int32_t passes = png_set_interlace_handling(Png.read);
  png_read_update_info(Png.read, Png.info);
  // The caller sized its rows by what the probe announced; refuse anything else.
  if (png_get_channels(Png.read, Png.info) != Png.channels || png_get_bit_depth(Png.read, Png.info) != 8 ||
      png_get_rowbytes(Png.read, Png.info) > static_cast<size_t>(rowSize)) {
    PngStateDestroy();
    return;
  }
  PngRowsRead(destination, rowSize, passes);
  PngStateDestroy();
}

static uint32_t PngWidth() { return Png.width; }
static uint32_t PngHeight() { return Png.height; }

static ImageDecoder PngDecoder = {PngProbe, PngDecode, PngWidth, PngHeight};

// Registers the PNG decoder once.
void PngDecoderUse() {
  if (PngDecoderRegistered) return;
  ImageDecoderRegister(&PngDecoder);
  PngDecoderRegistered = 1;
}
