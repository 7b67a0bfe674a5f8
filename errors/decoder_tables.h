// The instruction decoder's private tables: opcode records, operand templates,
// groups, names, and the opcode shapes of the 64-bit length pass.
#pragma once

#include <cstdint>

// The decoder's code and its tables each live in a section of their own, so
// that the linker's __start_/__stop_ symbols bound the region the decoder
// refuses to read: its routines and its tables.
#define DECODER_CODE __attribute__((section("tessel_x86_code")))
#define DECODER_TABLE __attribute__((section("tessel_x86_data")))

// One opcode or group record: template number, then a zero-terminated name.
struct MnemonicRecord {
  uint8_t templ;
  char mnemonic[10];
};
static_assert(sizeof(MnemonicRecord) == 11, "records are 11 bytes");

// Operand kinds of the template language (bits 5-0 of an operand word).
enum OperandKind : int16_t {
  KindFarPointer = 0,      // selector:offset
  KindPrefix67 = 1,        // address size 16, "db 67h", next opcode
  KindAl = 2,              // "al"
  KindSuffixD = 3,         // argument n: CWDE, CDQ, PUSHAD ...
  KindAccumulator = 4,     // "Eax" / "ax"
  KindReg8Opcode = 5,      // 8-bit register in bits 2-0 of the opcode
  KindReg8 = 6,            // 8-bit register numbered reg
  KindReg8Fixed = 7,       // argument: 8-bit register number
  KindByte = 8,            // memory size 1, "byte "
  KindCharacter = 9,       // argument: one character
  KindSpecialRegister = 10,  // CRn, DRn, TRn
  KindDword = 11,          // memory size 4, "dword "
  KindDword32 = 12,        // operand size 32, memory size 4, "dword "
  KindX87 = 13,            // x87 escape group
  KindFword = 14,          // fword / dword by operand size
  KindGroupName = 15,      // argument row: line replaced by the group name
  KindGroup = 16,          // argument row: group record continues
  KindImmediate8 = 17,     // operand bytes 1, 1-byte immediate
  KindSt = 18,             // "st(i)"
  KindStSt = 19,           // "st(i),st"
  KindImmediate = 20,      // immediate of operand-bytes size
  KindImmediate16 = 21,    // operand bytes 2, 2-byte immediate
  KindRmSized = 22,        // keyword, segment, address text
  KindRm = 23,             // segment, address text
  KindNothing = 24,
  KindOffset = 25,         // direct offset [xxxxxxxx]
  KindEscape0F = 26,       // two-byte opcode
  KindPrefix66 = 27,       // operand size 16, "db 66h", next opcode
  KindQword = 28,          // memory size 8, "qword "
  KindRelative = 29,       // near relative target
  KindRelative8 = 30,      // short relative target (JECXZ)
  KindPrefixRep = 31,      // LOCK, REP, REPNE
  KindPrefixSegment = 32,  // ES: ... GS:
  KindSegmentOpcode = 33,  // reg from bits 5-3 of the opcode
  KindSegmentRegister = 34,  // "eS", "cS" ...
  KindStComma = 35,        // "st,st(i)"
  KindStringOperation = 36,  // argument ignored: MOVSW -> MOVSD
  KindTbyte = 37,          // memory size 10, "tbyte "
  KindValue8 = 38,         // 1-byte port or interrupt number
  KindSizeV = 39,          // dword / word by operand size
  KindRegOpcode = 40,      // register in bits 2-0 of the opcode
  KindRegV = 41,           // register numbered reg
  KindWord = 42,           // memory size 2, "word "
  KindReg16 = 43,          // 16-bit name of reg
  KindReg16Fixed = 44,     // argument: 16-bit register number
  KindClear32 = 45,        // operand size 16
};

// Separators (bits 7-6 of an operand word).
enum : int16_t {
  SepNone = 0 << 6,
  SepModRM = 1 << 6,
  SepComma = 2 << 6,
  SepEnd = 3 << 6,
};
constexpr int16_t TemplateEnd = 256;
constexpr int32_t TemplateCount = 93;

// Records 0-255 one-byte opcodes, 256-355 the mapped two-byte opcodes.
extern const MnemonicRecord MnemonicTable[356];
extern const int16_t TemplateList[];
extern const int32_t TemplateListLength;
// Index into TemplateList of each template's first operand word, -1 if absent.
extern const int16_t TemplateStart[256];
extern const MnemonicRecord GroupTable[24][8];
extern const char GroupNameTable[5][8][10];

extern const char Register8Names[17];
extern const char Register16Names[17];
extern const char SegmentLetters[7];
extern const char AddressRegisters32[8][4];
extern const char AddressForms16[8][6];
extern const char HexDigits[17];
extern const char KeywordByte[6], KeywordWord[6], KeywordDword[7], KeywordQword[7],
    KeywordTbyte[7], KeywordFword[7];

// Records the 64-bit mode uses in place of the 32-bit ones.
struct LongModeRecord {
  uint8_t map;  // 1 one-byte, 2 after 0Fh
  uint8_t opcode;
  MnemonicRecord record;
};
extern const LongModeRecord LongModeRecords[];
extern const int32_t LongModeRecordCount;

// Opcode shapes for measuring 64-bit instructions.
enum OpcodeShape : uint8_t {
  ShapeNone = 0,      // opcode only
  ShapeModRM,         // ModRM (with SIB and displacement)
  ShapeModRMIb,       // ModRM and a 1-byte immediate
  ShapeModRMIz,       // ModRM and a 2/4-byte immediate
  ShapeIb,            // 1-byte immediate or short displacement
  ShapeIw,            // 2-byte immediate
  ShapeIz,            // 2/4-byte immediate or near displacement
  ShapeIv,            // 2/4/8-byte immediate (MOV r, imm)
  ShapeIwIb,          // ENTER
  ShapeOffset,        // direct offset of address size
  ShapeGroup3Ib,      // F6: ModRM, immediate for /0 and /1
  ShapeGroup3Iz,      // F7
  ShapePrefix,        // legacy prefix
  ShapeRex,           // REX prefix
  ShapeEscape,        // 0Fh
  ShapeVex3,          // C4h
  ShapeVex2,          // C5h
  ShapeEvex,          // 62h
  ShapeInvalid,       // not an instruction in 64-bit mode
  ShapeThreeByte,     // 0F 38, 0F 3A
  ShapeModRMIbIb,     // 0F 78 with 66h/F2h (EXTRQ, INSERTQ)
};
extern const uint8_t OneByteShapes[256];
extern const uint8_t TwoByteShapes[256];
