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

// Most decoders the registry holds; later registrations are ignored.
#define IMAGE_DECODERS_MAX 100

extern ImageDecoder* ImageDecoders[IMAGE_DECODERS_MAX];
extern int32_t ImageDecoderCount;
extern ImageDecoder* ImageDecoderCurrent;
// Set once PngDecoderUse has registered the PNG decoder; cleared with the registry.
extern int32_t PngDecoderRegistered;

// Empties the registry (run by RuntimeStart).
void ImageDecoderReset();
void ImageDecoderRegister(ImageDecoder* decoder);
// The first non-zero probe result (1 or 2) over the registered decoders, or 0.
// size is the image's real length; no decoder reads past it.
int32_t ImageDecoderProbe(const uint8_t* image, uint32_t size);
// Size of the image last recognised by ImageDecoderProbe (0 when none).
uint32_t ImageDecoderWidth();
uint32_t ImageDecoderHeight();
// Decodes the recognised image into rows rowSize bytes apart, top row first.
// A null destination ends the probe's work without decoding (the caller gave up).
void ImageDecoderDecode(uint8_t* destination, int32_t rowSize);
// Registers the PNG decoder the first time; later calls do nothing.
void PngDecoderUse();
