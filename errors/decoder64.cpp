// Length pass of the long-mode decoder: prefixes, REX, the one-, two- and
// three-byte maps, VEX and EVEX, from the opcode shapes in decoder_tables.cpp.
// It reads only the bytes the instruction occupies.
#include "errors/decoder64.h"
#include "errors/decoder_tables.h"

namespace {

struct Cursor {
  const uint8_t* bytes;
  uint64_t available;
  uint64_t position;
  int32_t overrun;
};

DECODER_CODE uint8_t Next(Cursor* cursor) {
  if (cursor->position >= cursor->available) {
    cursor->overrun = 1;
    return 0;
  }
  return cursor->bytes[cursor->position++];
}

DECODER_CODE void Skip(Cursor* cursor, uint64_t n) {
  if (cursor->available - cursor->position < n) {
    cursor->position = cursor->available;
    cursor->overrun = 1;
    return;
  }
  cursor->position += n;
}

// ModRM with its SIB byte and displacement; returns the ModRM byte. Long mode
// has no 16-bit addressing, so the address-size prefix never changes the shape.
DECODER_CODE uint8_t SkipModRM(Cursor* cursor) {
  uint8_t modrm = Next(cursor);
  int32_t mod = modrm >> 6;
  int32_t rm = modrm & 7;
  if (mod == 3) return modrm;
  if (rm == 4) {
    uint8_t sib = Next(cursor);
    if (mod == 0 && (sib & 7) == 5) Skip(cursor, 4);
  } else if (mod == 0 && rm == 5) {
    Skip(cursor, 4);  // RIP-relative
  }
  if (mod == 1) Skip(cursor, 1);
  if (mod == 2) Skip(cursor, 4);
  return modrm;
}

// Immediate of a VEX or EVEX instruction in opcode map 1, 2 or 3.
DECODER_CODE int32_t VectorImmediate(int32_t map, uint8_t opcode) {
  if (map == 3) return 1;
  if (map == 1 && TwoByteShapes[opcode] == ShapeModRMIb) return 1;
  return 0;
}

}  // namespace

DECODER_CODE int32_t LongModeMeasure(const uint8_t* bytes, uint64_t available,
                                     int32_t* renderable) {
  Cursor cursor = {bytes, available, 0, 0};
  int32_t operand16 = 0;
  int32_t address32 = 0;
  int32_t repeat = 0;
  int32_t rexW = 0;
  int32_t prefixes = 0;
  *renderable = 1;
  uint8_t opcode = Next(&cursor);
  // At most 14 prefixes: the processor refuses anything longer than 15 bytes.
  while (prefixes < 14) {
    uint8_t shape = OneByteShapes[opcode];
    if (shape == ShapePrefix) {
      if (opcode == 0x66) operand16 = 1;
      if (opcode == 0x67) address32 = 1;
      if (opcode == 0xF2 || opcode == 0xF3) repeat = opcode;
      rexW = 0;  // a REX prefix counts only right before the opcode
    } else if (shape == ShapeRex) {
      rexW = (opcode & 8) != 0;
    } else {
      break;
    }
    prefixes++;
    opcode = Next(&cursor);
  }
  int32_t immediateZ = operand16 && !rexW ? 2 : 4;
  uint8_t shape = OneByteShapes[opcode];
  switch (shape) {
    case ShapeEscape: {
      uint8_t second = Next(&cursor);
      uint8_t twoShape = TwoByteShapes[second];
      if (twoShape == ShapeThreeByte) {
        *renderable = 0;
        Next(&cursor);
        SkipModRM(&cursor);
        if (second == 0x3A) Skip(&cursor, 1);
        break;
      }
      if (twoShape == ShapeModRM) SkipModRM(&cursor);
      if (twoShape == ShapeModRMIb) {
        SkipModRM(&cursor);
        Skip(&cursor, 1);
      }
      if (twoShape == ShapeModRMIbIb) {
        SkipModRM(&cursor);
        if (operand16 || repeat == 0xF2) Skip(&cursor, 2);
      }
      if (twoShape == ShapeIz) Skip(&cursor, operand16 ? 2 : 4);
      break;
    }
    case ShapeVex2: {
      *renderable = 0;
      Next(&cursor);
      uint8_t vectorOpcode = Next(&cursor);
      if (vectorOpcode != 0x77) SkipModRM(&cursor);  // VZEROUPPER, VZEROALL
      Skip(&cursor, VectorImmediate(1, vectorOpcode));
      break;
    }
    case ShapeVex3: {
      *renderable = 0;
      int32_t map = Next(&cursor) & 0x1F;
      Next(&cursor);
      uint8_t vectorOpcode = Next(&cursor);
      if (!(map == 1 && vectorOpcode == 0x77)) SkipModRM(&cursor);
      Skip(&cursor, VectorImmediate(map, vectorOpcode));
      break;
    }
    case ShapeEvex: {
      *renderable = 0;
      int32_t map = Next(&cursor) & 7;
      Next(&cursor);
      Next(&cursor);
      uint8_t vectorOpcode = Next(&cursor);
      SkipModRM(&cursor);
      Skip(&cursor, VectorImmediate(map, vectorOpcode));
      break;
    }
    case ShapeModRM: SkipModRM(&cursor); break;
    case ShapeModRMIb: SkipModRM(&cursor); Skip(&cursor, 1); break;
    case ShapeModRMIz: SkipModRM(&cursor); Skip(&cursor, immediateZ); break;
    case ShapeIb: Skip(&cursor, 1); break;
    case ShapeIw: Skip(&cursor, 2); break;
    case ShapeIz: Skip(&cursor, immediateZ); break;
    case ShapeIv: Skip(&cursor, rexW ? 8 : immediateZ); break;
    case ShapeIwIb: Skip(&cursor, 3); break;
    case ShapeOffset: Skip(&cursor, address32 ? 4 : 8); break;
    case ShapeGroup3Ib:
      if (((SkipModRM(&cursor) >> 3) & 7) < 2) Skip(&cursor, 1);
      break;
    case ShapeGroup3Iz:
      if (((SkipModRM(&cursor) >> 3) & 7) < 2) Skip(&cursor, immediateZ);
      break;
    default: break;  // opcode only, or not an instruction: one byte
  }
  if (cursor.overrun) return 0;
  return int32_t(cursor.position);
}
