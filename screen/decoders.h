// The image decoder registry and the PNG decoder.
#pragma once

#include <cstdint>

struct ImageDecoder {
  // 0 not this format; 1 three bytes per pixel (B,G,R); 2 four (B,G,R,A).
  int32_t (*probe)(void* stream, const uint8_t* image, uint32_t size);
  void (*decode)(uint8_t* destination, int32_t rowSize, int32_t reserved);
  uint32_t (*width)();
  uint32_t (*height)();
};

extern int32_t ImageDecoderCount;

// Empties the registry (run by RuntimeStart).
void ImageDecoderReset();
void ImageDecoderRegister(ImageDecoder* decoder);
int32_t ImageDecoderProbe(const uint8_t* image, uint32_t size);
uint32_t ImageDecoderWidth();
uint32_t ImageDecoderHeight();
void ImageDecoderDecode(uint8_t* destination, int32_t rowSize);
void PngDecoderUse();
