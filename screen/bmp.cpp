// The BMP reader of the sprite loader: reads the headers of an image in
// memory, checks every offset, size and count against the file's real length,
// and expands images of 8 bits or fewer per pixel, and images whose colours
// are given by bit-field masks, into 24-bit rows.
// Supported: BITMAPINFOHEADER and its larger successors (read at the same
// offsets); 1, 4, 8, 16 (5-5-5), 24 and 32 bits; 8-bit run-length coding;
// 16 and 32 bits with any red, green and blue masks (compression 3, and 6
// with an alpha mask, which plays no part).
#include <cstring>

#include "screen/sprites.h"

static uint32_t BitmapWord32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

static uint32_t BitmapWord16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }

// 1 and the layout for a BMP within the supported subset, 0 for anything else.
int32_t BitmapRead(const uint8_t* image, uint32_t size, BitmapInfo* info) {
  if (!image || !info || size < 14 + 40 || image[0] != 'B' || image[1] != 'M') return 0;
  uint32_t offset = BitmapWord32(image + 10);
  uint32_t headerSize = BitmapWord32(image + 14);
  if (headerSize < 40 || headerSize > size - 14) return 0;  // OS/2 headers, or past the end
  int32_t width = static_cast<int32_t>(BitmapWord32(image + 18));
  int32_t height = static_cast<int32_t>(BitmapWord32(image + 22));
  int32_t bits = static_cast<int32_t>(BitmapWord16(image + 28));
  uint32_t compression = BitmapWord32(image + 30);
  if (width <= 0 || width > SPRITE_MAX_SIDE || height == 0 || height < -SPRITE_MAX_SIDE ||
      height > SPRITE_MAX_SIDE)
    return 0;
  int32_t topDown = height < 0;
  if (topDown) height = -height;
  if (static_cast<int64_t>(width) * height > SPRITE_MAX_PIXELS) return 0;
  if (offset >= size) return 0;

  switch (compression) {
    case 0:
      if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return 0;
      break;
    case 1:
      // A run-length stream has no top-down form.
      if (bits != 8 || topDown) return 0;
      break;
    case 3:
    case 6:
      // The red, green and blue masks follow the 40-byte header, or are its
      // next fields in the larger headers: at byte 54 either way.
      if ((bits != 16 && bits != 32) || size < 54 + 12) return 0;
      break;
    default:
      return 0;
  }

  int32_t masked = compression == 3 || compression == 6;
  uint32_t masks[3] = {0, 0, 0};
  if (masked) {
    uint32_t within = bits == 16 ? 0xFFFFu : 0xFFFFFFFFu;  // bits a pixel does not have read as 0
    for (int32_t i = 0; i < 3; i++) masks[i] = BitmapWord32(image + 54 + 4 * i) & within;
    // The usual 32-bit layout is the file's pixels as they are.
    if (bits == 32 && masks[0] == 0x00FF0000 && masks[1] == 0x0000FF00 && masks[2] == 0x000000FF) masked = 0;
    compression = 0;
  }

  int64_t stride = ((static_cast<int64_t>(width) * bits + 31) / 32) * 4;
  uint32_t pixelBytes = size - offset;
  if (compression == 0 && stride * height > pixelBytes) return 0;

  info->width = width;
  info->height = height;
  info->bits = bits;
  info->compression = static_cast<int32_t>(compression);
  info->topDown = topDown;
  info->masked = masked;
  std::memcpy(info->masks, masks, sizeof masks);
  info->pixels = image + offset;
  info->pixelBytes = pixelBytes;
  info->rowStride = static_cast<int32_t>(stride);
  info->paletteCount = 0;
  info->palette = image + 14 + headerSize;
  if (bits <= 8) {
    uint32_t entries = 1u << bits;
    uint32_t used = BitmapWord32(image + 46);
    if (used && used < entries) entries = used;
    // The palette ends where the pixels begin, or at the end of the file.
    uint32_t paletteEnd = offset > 14 + headerSize ? offset : size;
    uint32_t inFile = (paletteEnd - 14 - headerSize) / 4;
    if (entries > inFile) entries = inFile;
    info->paletteCount = static_cast<int32_t>(entries);
  }
  return 1;
}

// Writes count pixels of one colour from *column on, clipped at the row's end.
static void BitmapRun(uint8_t* row, int32_t width, int32_t* column, int32_t count, const uint8_t* colour) {
  int32_t end = *column + count;
  if (end > width) end = width;
  for (int32_t x = *column; x < end; x++) std::memcpy(row + x * 3, colour, 3);
  *column = end;
}

// Expands an 8-bit run-length stream; codes that run past a row or the
// image write nothing beyond it, and the stream ends at the file's end.
static void BitmapExpandRunLength(const BitmapInfo* info, const uint8_t (*colours)[3], uint8_t* destination,
                                  int32_t rowSize) {
  const uint8_t* p = info->pixels;
  const uint8_t* end = info->pixels + info->pixelBytes;
  int32_t row = 0, column = 0;
  while (end - p >= 2 && row < info->height) {
    uint8_t count = p[0], code = p[1];
    p += 2;
    uint8_t* rowStart = destination + static_cast<int64_t>(row) * rowSize;
    if (count) {
      BitmapRun(rowStart, info->width, &column, count, colours[code]);
      continue;
    }
    if (code == 0) {  // end of line
      row++;
      column = 0;
    } else if (code == 1) {  // end of bitmap
      return;
    } else if (code == 2) {  // delta
      if (end - p < 2) return;
      column += p[0];
      if (column > info->width) column = info->width;
      row += p[1];
      p += 2;
    } else {  // absolute run, padded to an even length
      for (int32_t i = 0; i < code; i++) {
        if (p >= end) return;
        BitmapRun(rowStart, info->width, &column, 1, colours[*p++]);
      }
      if ((code & 1) && p < end) p++;
    }
  }
}

// One colour channel of a bit-field mask: where its lowest bit is and its
// largest value there.
struct BitmapChannel {
  uint32_t mask;
  int32_t shift;
  uint32_t maximum;
};

static BitmapChannel BitmapChannelOf(uint32_t mask) {
  BitmapChannel channel = {mask, 0, 0};
  if (mask) {
    while (!((mask >> channel.shift) & 1)) channel.shift++;
    channel.maximum = mask >> channel.shift;
  }
  return channel;
}

// The channel's value in a pixel scaled to 0..255 (rounded); 0 for an empty mask.
static uint8_t BitmapChannelLevel(const BitmapChannel& channel, uint32_t pixel) {
  if (!channel.maximum) return 0;
  uint64_t value = (pixel & channel.mask) >> channel.shift;
  return static_cast<uint8_t>((value * 255 + channel.maximum / 2) / channel.maximum);
}

// Expands 16- or 32-bit pixels by their masks into blue, green, red rows.
static void BitmapExpandMasked(const BitmapInfo* info, uint8_t* destination, int32_t rowSize) {
  BitmapChannel red = BitmapChannelOf(info->masks[0]), green = BitmapChannelOf(info->masks[1]),
                blue = BitmapChannelOf(info->masks[2]);
  int32_t bytes = info->bits / 8;
  for (int32_t y = 0; y < info->height; y++) {
    const uint8_t* source = info->pixels + static_cast<int64_t>(y) * info->rowStride;
    uint8_t* out = destination + static_cast<int64_t>(y) * rowSize;
    for (int32_t x = 0; x < info->width; x++, source += bytes, out += 3) {
      uint32_t pixel = bytes == 2 ? BitmapWord16(source) : BitmapWord32(source);
      out[0] = BitmapChannelLevel(blue, pixel);
      out[1] = BitmapChannelLevel(green, pixel);
      out[2] = BitmapChannelLevel(red, pixel);
    }
  }
}

// Expands a BMP of 8 bits or fewer, or one with bit-field masks, into 24-bit rows; 1 on success.
int32_t BitmapExpand(const BitmapInfo* info, uint8_t* destination) {
  if (!info || !destination) return 0;
  if (info->masked) {
    if (info->bits != 16 && info->bits != 32) return 0;
    BitmapExpandMasked(info, destination, SpriteRowSize(info->width, 24));
    return 1;
  }
  if (info->bits > 8) return 0;
  // Indices beyond the file's palette read as black.
  uint8_t colours[256][3] = {};
  for (int32_t i = 0; i < info->paletteCount && i < 256; i++) std::memcpy(colours[i], info->palette + i * 4, 3);
  int32_t width = info->width;
  int32_t rowSize = SpriteRowSize(width, 24);

  if (info->compression == 1) {
    if (info->bits != 8) return 0;
    BitmapExpandRunLength(info, colours, destination, rowSize);
    return 1;
  }
  if (info->compression != 0) return 0;

  for (int32_t y = 0; y < info->height; y++) {
    const uint8_t* source = info->pixels + static_cast<int64_t>(y) * info->rowStride;
    uint8_t* out = destination + static_cast<int64_t>(y) * rowSize;
    switch (info->bits) {
      case 1:
        // Black and white whatever the palette holds.
        for (int32_t x = 0; x < width; x++) {
          uint8_t level = ((source[x >> 3] >> (7 - (x & 7))) & 1) ? 0xFF : 0x00;
          out[x * 3] = out[x * 3 + 1] = out[x * 3 + 2] = level;
        }
        break;
      case 4:
        for (int32_t x = 0; x < width; x++) {
          uint8_t index = (x & 1) ? source[x >> 1] & 0x0F : source[x >> 1] >> 4;
          std::memcpy(out + x * 3, colours[index], 3);
        }
        break;
      case 8:
        for (int32_t x = 0; x < width; x++) std::memcpy(out + x * 3, colours[source[x]], 3);
        break;
      default:
        return 0;
    }
  }
  return 1;
}
