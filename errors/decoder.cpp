// The x86 instruction decoder: reads one instruction, works out the address of
// the next one and renders a line of text, by interpreting the operand
// templates of decoder_tables.cpp. 32-bit mode is the classic decoder of the
// 80486/Pentium generation; long mode measures with the length pass of
// decoder64.cpp and renders through the same templates where it can.
// Depends on the StringBuffer only for InstructionText. Never allocates; not
// reentrant.
#include "errors/decoder.h"

#include "errors/decoder64.h"
#include "errors/decoder_tables.h"
#include "runtime/strings.h"

extern "C" const char __start_tessel_x86_code[];
extern "C" const char __stop_tessel_x86_code[];
extern "C" const char __start_tessel_x86_data[];
extern "C" const char __stop_tessel_x86_data[];

namespace {

constexpr int32_t LineCapacity = 256;
constexpr int32_t OperandCapacity = 80;
constexpr int32_t AddressCapacity = 80;

struct TextBuffer {
  char* text;
  int32_t capacity;  // terminator included
  int32_t length;
};

// Decoder state, reset at the start of every decode.
struct DecoderState {
  int32_t operandSize32;
  int32_t addressSize32;
  int32_t addressBytes;
  int32_t operandBytes;
  uint8_t current;
  int32_t modrm;  // 0 until read, then the byte + 256
  int32_t mod, reg, rm;
  int32_t sib, index, scale;
  int32_t groupRow;
  uint8_t segmentPrefix;
  int32_t memorySize;
  const char* sizeKeyword;
  int32_t wordSource;
  int32_t mnemonicStart;  // where the instruction's own mnemonic begins in the line
  int32_t map;            // 1 one-byte opcode, 2 after 0Fh
  int32_t position;       // next word of the template list
  // Reading.
  const uint8_t* bytes;
  uint64_t available;
  uint64_t consumed;
  int32_t overrun;
  uint64_t address;  // where the instruction stands, for relative targets
  // Long mode.
  int32_t longMode;
  int32_t rex;
  int32_t operandSize64;
  int32_t invalid;
};

struct DecoderModule {
  DecoderState state;
  char line[LineCapacity];
  char operands[OperandCapacity];
  char addressText[AddressCapacity];
  TextBuffer lineBuffer;
  TextBuffer operandBuffer;
  TextBuffer addressBuffer;
};

DecoderModule Decoder;

// ---- text ---------------------------------------------------------------

DECODER_CODE void TextClear(TextBuffer* buffer) {
  buffer->length = 0;
  buffer->text[0] = 0;
}

// Appends what fits; the rest is dropped.
DECODER_CODE void TextAppend(TextBuffer* buffer, const char* text) {
  while (*text && buffer->length < buffer->capacity - 1) buffer->text[buffer->length++] = *text++;
  buffer->text[buffer->length] = 0;
}

DECODER_CODE void TextAppendChar(TextBuffer* buffer, char c) {
  char text[2] = {c, 0};
  TextAppend(buffer, text);
}

DECODER_CODE void TextAppendPair(TextBuffer* buffer, const char* names, int32_t number) {
  char text[3] = {names[2 * number], names[2 * number + 1], 0};
  TextAppend(buffer, text);
}

// A value of n bytes, most significant byte first, two digits per byte.
DECODER_CODE void TextAppendHex(TextBuffer* buffer, uint64_t value, int32_t n) {
  for (int32_t i = n * 2 - 1; i >= 0; i--) TextAppendChar(buffer, HexDigits[(value >> (i * 4)) & 15]);
}

DECODER_CODE void TextAppendDecimal(TextBuffer* buffer, int32_t value) {
  if (value >= 10) TextAppendChar(buffer, char('0' + value / 10));
  TextAppendChar(buffer, char('0' + value % 10));
}

DECODER_CODE int32_t TextStartsWith(const TextBuffer* buffer, const char* prefix) {
  int32_t i = 0;
  for (; prefix[i]; i++) {
    if (i >= buffer->length || buffer->text[i] != prefix[i]) return 0;
  }
  return 1;
}

// ---- reading ------------------------------------------------------------

DECODER_CODE uint8_t ReadByte() {
  DecoderState* s = &Decoder.state;
  if (s->consumed >= s->available) {
    s->overrun = 1;
    return 0;
  }
  return s->bytes[s->consumed++];
}

DECODER_CODE uint8_t PeekByte() {
  DecoderState* s = &Decoder.state;
  return s->consumed < s->available ? s->bytes[s->consumed] : 0;
}

DECODER_CODE uint64_t ReadValue(int32_t n) {
  uint64_t value = 0;
  for (int32_t i = 0; i < n; i++) value |= uint64_t(ReadByte()) << (8 * i);
  return value;
}

DECODER_CODE int64_t SignExtend(uint64_t value, int32_t n) {
  int32_t shift = 64 - 8 * n;
  return int64_t(value << shift) >> shift;
}

// ---- registers ----------------------------------------------------------

DECODER_CODE void AppendExtended(TextBuffer* buffer, int32_t number, const char* suffix) {
  TextAppendChar(buffer, 'r');
  TextAppendDecimal(buffer, number);
  TextAppend(buffer, suffix);
}

// 8-bit register: al ... bh; in long mode with REX spl ... dil and r8b ... r15b.
DECODER_CODE void AppendRegister8(TextBuffer* buffer, int32_t number) {
  const DecoderState* s = &Decoder.state;
  if (number >= 8) return AppendExtended(buffer, number, "b");
  if (s->longMode && s->rex && number >= 4) {
    TextAppendPair(buffer, Register16Names, number);
    TextAppendChar(buffer, 'l');
    return;
  }
  TextAppendPair(buffer, Register8Names, number);
}

DECODER_CODE void AppendRegister16(TextBuffer* buffer, int32_t number) {
  if (number >= 8) return AppendExtended(buffer, number, "w");
  TextAppendPair(buffer, Register16Names, number);
}

// Register of the operand size: "Eax" (32-bit), "ax" (16-bit), "Rax" (64-bit).
DECODER_CODE void AppendRegisterSized(TextBuffer* buffer, int32_t number, int32_t width) {
  if (width == 16) return AppendRegister16(buffer, number);
  if (number >= 8) return AppendExtended(buffer, number, width == 32 ? "d" : "");
  TextAppendChar(buffer, width == 32 ? 'E' : 'R');
  TextAppendPair(buffer, Register16Names, number);
}

DECODER_CODE int32_t OperandWidth() {
  const DecoderState* s = &Decoder.state;
  if (s->operandSize64) return 64;
  return s->operandSize32 ? 32 : 16;
}

DECODER_CODE void AppendRegisterV(TextBuffer* buffer, int32_t number) {
  AppendRegisterSized(buffer, number, OperandWidth());
}

// Address register of 32-bit addressing, or of long mode's 64/32-bit addressing.
DECODER_CODE void AppendAddressRegister(TextBuffer* buffer, int32_t number) {
  const DecoderState* s = &Decoder.state;
  if (!s->longMode) return TextAppend(buffer, AddressRegisters32[number]);
  int32_t wide = s->addressBytes == 8;
  if (number >= 8) return AppendExtended(buffer, number, wide ? "" : "d");
  if (!wide) return TextAppend(buffer, AddressRegisters32[number]);
  TextAppendChar(buffer, 'r');
  TextAppend(buffer, AddressRegisters32[number] + 1);
}

DECODER_CODE int32_t RexBit(int32_t bit) {
  return (Decoder.state.rex >> bit) & 1;
}

// ---- records ------------------------------------------------------------

// The record of the current byte in the current map; long mode swaps in its own
// where it differs.
DECODER_CODE const MnemonicRecord* CurrentRecord() {
  DecoderState* s = &Decoder.state;
  if (s->longMode) {
    for (int32_t i = 0; i < LongModeRecordCount; i++) {
      if (LongModeRecords[i].map == s->map && LongModeRecords[i].opcode == s->current)
        return &LongModeRecords[i].record;
    }
  }
  if (s->map == 1) return &MnemonicTable[s->current];
  uint8_t b = s->current;
  int32_t record = 0x104;
  if (b <= 0x06) record = b + 0x100;
  else if (b >= 0x20 && b <= 0x26) record = b + 0xE7;
  else if (b >= 0x30 && b <= 0x32) record = b + 0xDE;
  else if (b >= 0x7F && b <= 0xCF) record = b + 0x94;
  return &MnemonicTable[record];
}

// Appends the record's mnemonic and continues with its template.
DECODER_CODE void EnterRecord(const MnemonicRecord* record) {
  DecoderState* s = &Decoder.state;
  s->mnemonicStart = Decoder.lineBuffer.length;
  TextAppend(&Decoder.lineBuffer, record->mnemonic);
  s->position = TemplateStart[record->templ];
}

// Long mode: opcodes whose operand size defaults to 64 bits.
DECODER_CODE int32_t DefaultsTo64Bits() {
  const DecoderState* s = &Decoder.state;
  uint8_t b = s->current;
  if (s->map == 2) return b >= 0x20 && b <= 0x23;
  if (b >= 0x50 && b <= 0x5F) return 1;
  if (b == 0x68 || b == 0x6A || b == 0x8F || b == 0x9C || b == 0x9D || b == 0xC8 || b == 0xC9) return 1;
  if (b == 0xFF) {
    int32_t reg = (PeekByte() >> 3) & 7;
    return reg == 2 || reg == 4 || reg == 6;
  }
  return 0;
}

DECODER_CODE void SelectRecord() {
  DecoderState* s = &Decoder.state;
  if (s->longMode) {
    const uint8_t* shapes = s->map == 1 ? OneByteShapes : TwoByteShapes;
    if (shapes[s->current] == ShapeInvalid) s->invalid = 1;
    s->operandSize64 = RexBit(3) || (s->operandSize32 && DefaultsTo64Bits());
  }
  EnterRecord(CurrentRecord());
}

// The next byte becomes the current byte of the one-byte map (REX prefixes in
// long mode are taken on the way).
DECODER_CODE void DecodeOpcode() {
  DecoderState* s = &Decoder.state;
  uint8_t b = ReadByte();
  s->rex = 0;
  while (s->longMode && b >= 0x40 && b <= 0x4F && !s->overrun) {
    s->rex = b;
    b = ReadByte();
  }
  s->current = b;
  s->map = 1;
  SelectRecord();
}

// ---- the ModRM step -----------------------------------------------------

DECODER_CODE void AddressText16() {
  DecoderState* s = &Decoder.state;
  TextBuffer* text = &Decoder.addressBuffer;
  TextAppend(text, "[");
  if (s->mod == 0 && s->rm == 6) {
    TextAppendHex(text, ReadValue(2), 2);
  } else {
    TextAppend(text, AddressForms16[s->rm]);
  }
  if (s->mod == 1) {
    TextAppend(text, "+");
    TextAppendHex(text, ReadValue(1), 1);
  } else if (s->mod == 2) {
    TextAppend(text, "+");
    TextAppendHex(text, ReadValue(2), 2);
  }
  TextAppend(text, "]");
}

DECODER_CODE void AddressText32() {
  DecoderState* s = &Decoder.state;
  TextBuffer* text = &Decoder.addressBuffer;
  TextAppend(text, "[");
  int32_t base = s->rm;
  int32_t hasSib = 0;
  if (s->rm == 4) {
    s->sib = ReadByte();
    s->index = (s->sib >> 3) & 7;
    s->scale = 1 << (s->sib >> 6);
    base = s->sib & 7;
    hasSib = 1;
  }
  if (s->mod == 0 && base == 5) {
    if (s->longMode && !hasSib) TextAppend(text, s->addressBytes == 8 ? "rip+" : "eip+");
    TextAppendHex(text, ReadValue(4), 4);
  } else {
    AppendAddressRegister(text, base | RexBit(0) << 3);
  }
  int32_t index = s->index | RexBit(1) << 3;
  if (hasSib && index != 4) {
    TextAppend(text, "+");
    AppendAddressRegister(text, index);
    if (s->scale != 1) {
      TextAppend(text, "*");
      TextAppendChar(text, char('0' + s->scale));
    }
  }
  if (s->mod == 1) {
    TextAppend(text, "+");
    TextAppendHex(text, ReadValue(1), 1);
  } else if (s->mod == 2) {
    TextAppend(text, "+");
    TextAppendHex(text, ReadValue(4), 4);
  }
  TextAppend(text, "]");
}

// MOV to and from control, debug and test registers always name a register,
// whatever the mod field says.
DECODER_CODE int32_t RegisterOnly() {
  const DecoderState* s = &Decoder.state;
  return s->map == 2 && s->current >= 0x20 && s->current <= 0x26;
}

DECODER_CODE void ModRMStep() {
  DecoderState* s = &Decoder.state;
  if (s->modrm) return;
  uint8_t b = ReadByte();
  s->modrm = b + 256;
  s->mod = b >> 6;
  s->reg = (b >> 3) & 7;
  s->rm = b & 7;
  TextBuffer* text = &Decoder.addressBuffer;
  TextClear(text);
  if (s->mod == 3 || RegisterOnly()) {
    int32_t number = s->rm | RexBit(0) << 3;
    if (s->memorySize == 0 || s->memorySize == 1) {
      AppendRegister8(text, number);
    } else if (s->longMode && s->map == 1 && s->current == 0x63) {
      AppendRegisterSized(text, number, 32);  // MOVSXD reads a 32-bit source
    } else if (s->wordSource) {
      AppendRegister16(text, number);
    } else {
      AppendRegisterV(text, number);
    }
    s->memorySize = 0;
    return;
  }
  if (!s->longMode && !s->addressSize32) return AddressText16();
  AddressText32();
}

// ---- operand kinds ------------------------------------------------------

DECODER_CODE void SetSize(int32_t size, const char* keyword) {
  Decoder.state.memorySize = size;
  Decoder.state.sizeKeyword = keyword;
}

DECODER_CODE void AppendSegmentPrefix(TextBuffer* text) {
  if (Decoder.state.segmentPrefix) TextAppend(text, MnemonicTable[Decoder.state.segmentPrefix].mnemonic);
}

// A relative target printed with the digits of the address size.
DECODER_CODE void AppendTarget(int64_t displacement) {
  DecoderState* s = &Decoder.state;
  uint64_t target = s->address + s->consumed + uint64_t(displacement);
  TextAppendHex(&Decoder.operandBuffer, target, s->addressBytes);
}

DECODER_CODE void SuffixD(int32_t n) {
  DecoderState* s = &Decoder.state;
  TextBuffer* line = &Decoder.lineBuffer;
  if (!s->operandSize32 && !s->operandSize64) return;
  if (n == 0) {
    TextClear(line);
    TextAppend(line, s->operandSize64 ? "CDQE" : "CWDE");
    return;
  }
  int32_t cut = s->mnemonicStart + n;
  if (cut < line->length) {
    line->length = cut;
    line->text[cut] = 0;
  }
  int32_t quad = s->operandSize64 && s->current != 0x6D && s->current != 0x6F;
  if (n == 1) {
    TextAppend(line, quad ? "QO" : "DQ");
  } else {
    TextAppend(line, quad ? "Q" : "D");
  }
}

DECODER_CODE void X87Group() {
  DecoderState* s = &Decoder.state;
  int32_t row = 2 * (s->current - 0xD8) + (s->mod == 3 ? 1 : 0);
  int32_t index = s->reg;
  if (row == 3 && s->reg >= 4) {
    row = s->reg + 12;
    index = s->rm;
  } else if (row == 7) {
    index = s->reg == 4 ? s->rm : 7;
  }
  s->groupRow = row;
  EnterRecord(&GroupTable[row][index]);
}

DECODER_CODE void OperandKind(int32_t kind, int32_t argument) {
  DecoderState* s = &Decoder.state;
  TextBuffer* operands = &Decoder.operandBuffer;
  TextBuffer* line = &Decoder.lineBuffer;
  switch (kind) {
    case KindFarPointer: {
      uint64_t offset = ReadValue(s->operandBytes);
      uint64_t selector = ReadValue(2);
      TextAppendHex(operands, selector, 2);
      TextAppend(operands, ":");
      TextAppendHex(operands, offset, s->operandBytes);
      break;
    }
    case KindPrefix67:
      if (s->longMode) {
        s->addressBytes = 4;
      } else {
        s->addressSize32 = 0;
        s->addressBytes = 2;
      }
      TextAppend(line, "db 67h\r\n");
      DecodeOpcode();
      break;
    case KindAl: TextAppend(operands, "al"); break;
    case KindSuffixD: SuffixD(argument); break;
    case KindAccumulator: AppendRegisterV(operands, 0); break;
    case KindReg8Opcode: AppendRegister8(operands, (s->current & 7) | RexBit(0) << 3); break;
    case KindReg8: AppendRegister8(operands, s->reg | RexBit(2) << 3); break;
    case KindReg8Fixed: AppendRegister8(operands, argument & 7); break;
    case KindByte: SetSize(1, KeywordByte); break;
    case KindCharacter: TextAppendChar(operands, char(argument & 0xFF)); break;
    case KindSpecialRegister: {
      uint8_t b = s->current;
      TextAppend(operands, b == 0x20 || b == 0x22 ? "C" : b == 0x21 || b == 0x23 ? "D" : "T");
      TextAppend(operands, "R");
      TextAppendDecimal(operands, s->reg | RexBit(2) << 3);
      break;
    }
    case KindDword: SetSize(4, KeywordDword); break;
    case KindDword32:
      s->operandSize32 = 1;
      if (s->longMode && s->map == 2) {
        s->operandSize64 = (s->current >= 0x20 && s->current <= 0x23) || RexBit(3);
      }
      SetSize(4, KeywordDword);
      break;
    case KindX87: X87Group(); break;
    case KindFword:
      if (s->operandSize32) SetSize(6, KeywordFword);
      else SetSize(4, KeywordDword);
      break;
    case KindGroupName:
      TextClear(line);
      TextAppend(line, GroupNameTable[argument][s->reg]);
      s->mnemonicStart = 0;
      break;
    case KindGroup:
      s->groupRow = argument;
      EnterRecord(&GroupTable[argument][s->reg]);
      break;
    case KindImmediate8: {
      s->operandBytes = 1;
      uint8_t value = ReadByte();
      if (s->map == 1 && (s->current == 0xD4 || s->current == 0xD5) && value != 0x0A) {
        TextClear(operands);
        TextAppend(operands, "???");
      } else {
        TextAppendHex(operands, value, 1);
      }
      break;
    }
    case KindSt:
    case KindStSt:
    case KindStComma:
      if (kind == KindStComma) TextAppend(operands, "st,");
      TextAppend(operands, "st(");
      TextAppendChar(operands, char('0' + s->rm));
      TextAppend(operands, kind == KindStSt ? "),st" : ")");
      break;
    case KindImmediate: {
      int32_t n = s->operandBytes;
      if (s->longMode && s->map == 1 && s->current >= 0xB8 && s->current <= 0xBF && RexBit(3)) n = 8;
      TextAppendHex(operands, ReadValue(n), n);
      break;
    }
    case KindImmediate16:
      s->operandBytes = 2;
      TextAppendHex(operands, ReadValue(2), 2);
      break;
    case KindRmSized:
      if (s->mod != 3 && !RegisterOnly()) TextAppend(operands, s->sizeKeyword);
      else s->memorySize = 0;
      AppendSegmentPrefix(operands);
      TextAppend(operands, Decoder.addressText);
      break;
    case KindRm:
      AppendSegmentPrefix(operands);
      TextAppend(operands, Decoder.addressText);
      break;
    case KindNothing: break;
    case KindOffset:
      AppendSegmentPrefix(operands);
      TextAppend(operands, "[");
      TextAppendHex(operands, ReadValue(s->addressBytes), s->addressBytes);
      TextAppend(operands, "]");
      break;
    case KindEscape0F: {
      uint8_t b = ReadByte();
      s->current = b;
      s->map = 2;
      s->wordSource = b == 0xB7 || b == 0xBF;
      SelectRecord();
      break;
    }
    case KindPrefix66:
      s->operandSize32 = 0;
      s->operandBytes = 2;
      TextAppend(line, "db 66h\r\n");
      DecodeOpcode();
      break;
    case KindQword: SetSize(8, KeywordQword); break;
    case KindRelative: {
      // The displacement follows the operand size, as the processor reads it.
      int32_t n = s->operandSize32 ? 4 : 2;
      int64_t displacement = SignExtend(ReadValue(n), n);
      if (!s->longMode && n == 2) {
        uint64_t target = (s->address + s->consumed + uint64_t(displacement)) & 0xFFFF;
        TextAppendHex(operands, target, s->addressBytes);
      } else {
        AppendTarget(displacement);
      }
      break;
    }
    case KindRelative8: {
      int64_t displacement = int8_t(ReadByte());
      if (s->map == 1 && s->current == 0xE3) {
        const char* name = s->longMode ? (s->addressBytes == 8 ? "JRCXZ" : "JECXZ")
                                       : (s->addressSize32 ? "JECXZ" : nullptr);
        if (name) {
          TextClear(line);
          TextAppend(line, name);
        }
      }
      AppendTarget(displacement);
      break;
    }
    case KindPrefixRep:
      TextAppend(line, " ");
      DecodeOpcode();
      break;
    case KindPrefixSegment:
      s->segmentPrefix = s->current;
      TextAppend(line, " ");
      DecodeOpcode();
      break;
    case KindSegmentOpcode: s->reg = (s->current >> 3) & 7; break;
    case KindSegmentRegister:
      // Only six segment registers exist; reg 6 and 7 name none.
      TextAppendChar(operands, s->reg < 6 ? SegmentLetters[s->reg] : '?');
      TextAppend(operands, "S");
      break;
    case KindStringOperation:
      if ((s->current & 1) && (s->operandSize32 || s->operandSize64) &&
          s->mnemonicStart + 4 < line->length) {
        line->text[s->mnemonicStart + 4] = s->operandSize64 ? 'Q' : 'D';
      }
      break;
    case KindTbyte: SetSize(10, KeywordTbyte); break;
    case KindValue8: TextAppendHex(operands, ReadByte(), 1); break;
    case KindSizeV:
      if (s->operandSize64) SetSize(8, KeywordQword);
      else if (s->operandSize32) SetSize(4, KeywordDword);
      else SetSize(2, KeywordWord);
      break;
    case KindRegOpcode: AppendRegisterV(operands, (s->current & 7) | RexBit(0) << 3); break;
    case KindRegV: AppendRegisterV(operands, s->reg | RexBit(2) << 3); break;
    case KindWord: SetSize(2, KeywordWord); break;
    case KindReg16: AppendRegister16(operands, s->reg | RexBit(2) << 3); break;
    case KindReg16Fixed: AppendRegister16(operands, argument & 7); break;
    case KindClear32:
      s->operandSize32 = 0;
      s->operandSize64 = 0;
      break;
    default: break;
  }
}

DECODER_CODE int32_t KindTakesArgument(int32_t kind) {
  return kind == KindSuffixD || kind == KindReg8Fixed || kind == KindCharacter ||
         kind == KindGroupName || kind == KindGroup || kind == KindStringOperation ||
         kind == KindReg16Fixed;
}

// Interprets operand words until a separator 3, a template's end, or a
// read past the available bytes.
DECODER_CODE void RunTemplate() {
  DecoderState* s = &Decoder.state;
  while (!s->overrun && s->position >= 0 && s->position < TemplateListLength) {
    int16_t word = TemplateList[s->position++];
    if (word == TemplateEnd) return;
    int32_t kind = word & 63;
    int32_t separator = (word >> 6) & 3;
    int32_t argument = 0;
    if (KindTakesArgument(kind) && s->position < TemplateListLength) argument = TemplateList[s->position++];
    OperandKind(kind, argument);
    if (separator == 1) ModRMStep();
    else if (separator == 2) TextAppend(&Decoder.operandBuffer, ",");
    else if (separator == 3) return;
  }
}

// Fix-ups on the finished line, compared at its start.
DECODER_CODE void FixUps() {
  TextBuffer* line = &Decoder.lineBuffer;
  if (TextStartsWith(line, "FSTSW ") && line->length == 6) {
    TextAppend(line, "ax");
    return;
  }
  static const char Selectors[6][2][10] DECODER_TABLE = {
      {"LLDT ", "LLDT word"}, {"SLDT ", "SLDT word"}, {"VERR ", "VERR word"},
      {"VERW ", "VERW word"}, {"LTR ", "LTR word"},   {"STR ", "STR word"}};
  for (int32_t i = 0; i < 6; i++) {
    if (!TextStartsWith(line, Selectors[i][0]) || TextStartsWith(line, Selectors[i][1])) continue;
    // Only the "E" of a 32-bit register name goes; a 16-bit name stays whole.
    int32_t at = 0;
    while (Selectors[i][0][at]) at++;
    if (at < line->length && line->text[at] == 'E') {
      for (int32_t j = at; j < line->length; j++) line->text[j] = line->text[j + 1];
      line->length--;
    }
    return;
  }
  if ((TextStartsWith(line, "LMSW ") && !TextStartsWith(line, "LMSW word")) ||
      (TextStartsWith(line, "SMSW ") && !TextStartsWith(line, "SMSW word"))) {
    if (line->length < 7) return;
    for (int32_t n = 0; n < 8; n++) {
      if (line->text[5] == Register8Names[2 * n] && line->text[6] == Register8Names[2 * n + 1]) {
        line->text[5] = Register16Names[2 * n];
        line->text[6] = Register16Names[2 * n + 1];
        return;
      }
    }
  }
}

DECODER_CODE void Reset(const uint8_t* bytes, uint64_t available, uint64_t address, int32_t longMode) {
  DecoderModule* d = &Decoder;
  d->lineBuffer = {d->line, LineCapacity, 0};
  d->operandBuffer = {d->operands, OperandCapacity, 0};
  d->addressBuffer = {d->addressText, AddressCapacity, 0};
  TextClear(&d->lineBuffer);
  TextClear(&d->operandBuffer);
  TextClear(&d->addressBuffer);
  DecoderState* s = &d->state;
  *s = DecoderState{};
  s->operandSize32 = 1;
  s->addressSize32 = 1;
  s->addressBytes = longMode ? 8 : 4;
  s->operandBytes = 4;
  s->sizeKeyword = KeywordDword;
  s->bytes = bytes;
  s->available = available;
  s->address = address;
  s->longMode = longMode;
}

DECODER_CODE void ClearTexts() {
  Reset(nullptr, 0, 0, 0);
}

// Decodes one instruction; the length, or 0 when it runs past the bytes.
DECODER_CODE int32_t Decode(const uint8_t* bytes, uint64_t available, uint64_t address, int32_t longMode) {
  int32_t measured = 0;
  int32_t renderable = 1;
  if (longMode) {
    measured = LongModeMeasure(bytes, available, &renderable);
    if (measured == 0) {
      ClearTexts();
      return 0;
    }
    // The renderer reads no further than the measured instruction.
    available = uint64_t(measured);
  }
  Reset(bytes, available, address, longMode);
  DecoderState* s = &Decoder.state;
  if (renderable) {
    DecodeOpcode();
    RunTemplate();
  }
  if (!longMode && s->overrun) {
    ClearTexts();
    return 0;
  }
  TextAppend(&Decoder.lineBuffer, " ");
  TextAppend(&Decoder.lineBuffer, Decoder.operands);
  FixUps();
  if (longMode) {
    if (!renderable || s->invalid || s->overrun || s->consumed != uint64_t(measured)) {
      TextClear(&Decoder.lineBuffer);
      TextAppend(&Decoder.lineBuffer, "??? ");
    }
    return measured;
  }
  return int32_t(s->consumed);
}

}  // namespace

DECODER_CODE int32_t InstructionRegionContains(uintptr_t address) {
  return (address > uintptr_t(__start_tessel_x86_code) && address < uintptr_t(__stop_tessel_x86_code)) ||
         (address > uintptr_t(__start_tessel_x86_data) && address < uintptr_t(__stop_tessel_x86_data));
}

DECODER_CODE uintptr_t InstructionDecode(uintptr_t address) {
  if (InstructionRegionContains(address)) {
    ClearTexts();
    return 0;
  }
  // The host runs long mode; the bytes are read without any check.
  int32_t length = Decode(reinterpret_cast<const uint8_t*>(address), ~uint64_t(0) - address,
                          address, sizeof(void*) == 8);
  if (length == 0) return 0;
  return address + uintptr_t(length);
}

DECODER_CODE int32_t InstructionDecodeBytes(const uint8_t* bytes, int32_t size, uint64_t address,
                                            int32_t mode) {
  if ((mode != InstructionMode32 && mode != InstructionMode64) || bytes == nullptr || size <= 0) {
    ClearTexts();
    return 0;
  }
  if (mode == InstructionMode32) address &= 0xFFFFFFFFu;
  int32_t length = Decode(bytes, uint64_t(size), address, mode == InstructionMode64);
  return length;
}

DECODER_CODE const char* InstructionLine() {
  if (Decoder.lineBuffer.text == nullptr) return "";
  return Decoder.line;
}

DECODER_CODE void InstructionText(int32_t position) {
  StrFromAnsi(InstructionLine(), position);
}
