// The image decoder registry: decoders register once, the first whose probe
// recognises an image becomes the current one and reports its size and
// decodes it. Depends on nothing but the decoders it is given.
#include "screen/decoders.h"

ImageDecoder* ImageDecoders[IMAGE_DECODERS_MAX];
int32_t ImageDecoderCount;
ImageDecoder* ImageDecoderCurrent;

// Empties the registry; the PNG decoder may register again afterwards.
void ImageDecoderReset() {
  ImageDecoderCount = 0;
  ImageDecoderCurrent = nullptr;
  PngDecoderRegistered = 0;
}

// Appends a decoder; ignored once the registry is full.
void ImageDecoderRegister(ImageDecoder* decoder) {
  if (!decoder || ImageDecoderCount < 0 || ImageDecoderCount >= IMAGE_DECODERS_MAX) return;
  ImageDecoders[ImageDecoderCount] = decoder;
  ImageDecoderCount++;
}

// The first non-zero probe result, which also makes that decoder current; 0 otherwise.
int32_t ImageDecoderProbe(const uint8_t* image, uint32_t size) {
  if (!image) return 0;
  for (int32_t i = 0; i < ImageDecoderCount; i++) {
    int32_t result = ImageDecoders[i]->probe(nullptr, image, size);
    if (result) {
      ImageDecoderCurrent = ImageDecoders[i];
      return result;
    }
  }
  return 0;
}

// The current decoder's width, 0 when there is none.
uint32_t ImageDecoderWidth() { return ImageDecoderCurrent ? ImageDecoderCurrent->width() : 0; }

// The current decoder's height, 0 when there is none.
uint32_t ImageDecoderHeight() { return ImageDecoderCurrent ? ImageDecoderCurrent->height() : 0; }

// Runs the current decoder's decode with the third word 0.
void ImageDecoderDecode(uint8_t* destination, int32_t rowSize) {
  if (ImageDecoderCurrent) ImageDecoderCurrent->decode(destination, rowSize, 0);
}
