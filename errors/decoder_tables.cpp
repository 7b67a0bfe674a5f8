// The instruction decoder's tables. The records follow the Intel opcode maps of
// the 80486/Pentium generation with the x87 escapes; the templates are small
// programs of operand kinds (see decoder_tables.h) that the decoder interprets.
#include "errors/decoder_tables.h"

namespace {

// Template numbers. Operand notation as in the opcode maps: E r/m, G reg,
// b byte, w word, v word/dword, z immediate of operand size.
enum TemplateNumber : uint8_t {
  TNone = 0, TEbGb, TEvGv, TGbEb, TGvEv, TAlIb, TeAxIz, TEscape, TSegment, TPrefixSeg,
  TRegister, TSuffix5, TSuffix4, TSuffix3, TArpl, TPrefixRep, TPrefix66, TPrefix67, TIz, TGvEvIz,
  TIb, TGvEvIb, TJb, TGroup1EbIb, TGroup1EvIz, TGroup1EvIb, TEwSw, TSwEw, TEv, TXchgAx,
  TCbw, TCwd, TAp, TAlOb, TeAxOv, TObAl, TOveAx, TString, TRegIb, TRegIv,
  TGroup2EbIb, TGroup2EvIb, TIw, TGvMp, TEbIb, TEvIz, TEnter, TInt3, TValue, TGroup2Eb1,
  TGroup2Ev1, TGroup2EbCl, TGroup2EvCl, TX87, TJz, TAlPort, TeAxPort, TPortAl, TPorteAx, TAlDx,
  TeAxDx, TDxAl, TDxeAx, TGroup3Eb, TGroup3Ev, TGroup4, TGroup5, TTestEbIb, TTestEvIz, TRmSized,
  TFword, TGroup6, TGroup7, TWord, TDword, TQword, TTbyte, TRmPlain, TSt, TStSt,
  TStComma, TMovFromSpecial, TMovToSpecial, TSetcc, TEvGvIb, TEvGvCl, TGvEb, TGvEw, TGroup8, TCmpxchg8b,
  TBswap, TXbts, TIbts,
};

constexpr int16_t W(int16_t kind, int16_t separator) { return int16_t(kind | separator); }
constexpr int16_t E = TemplateEnd;

}  // namespace

// clang-format off
DECODER_TABLE constexpr int16_t TemplateList[] = {
  TNone,          W(KindNothing, SepEnd), E,
  TEbGb,          W(KindByte, SepModRM), W(KindRm, SepComma), W(KindReg8, SepEnd), E,
  TEvGv,          W(KindSizeV, SepModRM), W(KindRm, SepComma), W(KindRegV, SepEnd), E,
  TGbEb,          W(KindByte, SepModRM), W(KindReg8, SepComma), W(KindRm, SepEnd), E,
  TGvEv,          W(KindSizeV, SepModRM), W(KindRegV, SepComma), W(KindRm, SepEnd), E,
  TAlIb,          W(KindAl, SepComma), W(KindImmediate8, SepEnd), E,
  TeAxIz,         W(KindAccumulator, SepComma), W(KindImmediate, SepEnd), E,
  TEscape,        W(KindEscape0F, SepNone), E,
  TSegment,       W(KindSegmentOpcode, SepNone), W(KindSegmentRegister, SepEnd), E,
  TPrefixSeg,     W(KindPrefixSegment, SepNone), E,
  TRegister,      W(KindRegOpcode, SepEnd), E,
  TSuffix5,       W(KindSuffixD, SepEnd), 5, E,
  TSuffix4,       W(KindSuffixD, SepEnd), 4, E,
  TSuffix3,       W(KindSuffixD, SepEnd), 3, E,
  TArpl,          W(KindClear32, SepNone), W(KindWord, SepModRM), W(KindRm, SepComma), W(KindReg16, SepEnd), E,
  TPrefixRep,     W(KindPrefixRep, SepNone), E,
  TPrefix66,      W(KindPrefix66, SepNone), E,
  TPrefix67,      W(KindPrefix67, SepNone), E,
  TIz,            W(KindImmediate, SepEnd), E,
  TGvEvIz,        W(KindSizeV, SepModRM), W(KindRegV, SepComma), W(KindRm, SepComma), W(KindImmediate, SepEnd), E,
  TIb,            W(KindImmediate8, SepEnd), E,
  TGvEvIb,        W(KindSizeV, SepModRM), W(KindRegV, SepComma), W(KindRm, SepComma), W(KindImmediate8, SepEnd), E,
  TJb,            W(KindRelative8, SepEnd), E,
  TGroup1EbIb,    W(KindByte, SepModRM), W(KindGroupName, SepNone), 0, W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TGroup1EvIz,    W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 0, W(KindRmSized, SepComma), W(KindImmediate, SepEnd), E,
  TGroup1EvIb,    W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 0, W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TEwSw,          W(KindSizeV, SepModRM), W(KindRm, SepComma), W(KindSegmentRegister, SepEnd), E,
  TSwEw,          W(KindClear32, SepNone), W(KindWord, SepModRM), W(KindSegmentRegister, SepComma), W(KindRm, SepEnd), E,
  TEv,            W(KindSizeV, SepModRM), W(KindRmSized, SepEnd), E,
  TXchgAx,        W(KindAccumulator, SepComma), W(KindRegOpcode, SepEnd), E,
  TCbw,           W(KindSuffixD, SepEnd), 0, E,
  TCwd,           W(KindSuffixD, SepEnd), 1, E,
  TAp,            W(KindFarPointer, SepEnd), E,
  TAlOb,          W(KindAl, SepComma), W(KindOffset, SepEnd), E,
  TeAxOv,         W(KindAccumulator, SepComma), W(KindOffset, SepEnd), E,
  TObAl,          W(KindOffset, SepComma), W(KindAl, SepEnd), E,
  TOveAx,         W(KindOffset, SepComma), W(KindAccumulator, SepEnd), E,
  TString,        W(KindStringOperation, SepEnd), 3, E,
  TRegIb,         W(KindReg8Opcode, SepComma), W(KindImmediate8, SepEnd), E,
  TRegIv,         W(KindRegOpcode, SepComma), W(KindImmediate, SepEnd), E,
  TGroup2EbIb,    W(KindByte, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TGroup2EvIb,    W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TIw,            W(KindImmediate16, SepEnd), E,
  TGvMp,          W(KindFword, SepModRM), W(KindRegV, SepComma), W(KindRmSized, SepEnd), E,
  TEbIb,          W(KindByte, SepModRM), W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TEvIz,          W(KindSizeV, SepModRM), W(KindRmSized, SepComma), W(KindImmediate, SepEnd), E,
  TEnter,         W(KindImmediate16, SepComma), W(KindValue8, SepEnd), E,
  TInt3,          W(KindCharacter, SepEnd), '3', E,
  TValue,         W(KindValue8, SepEnd), E,
  TGroup2Eb1,     W(KindByte, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindCharacter, SepEnd), '1', E,
  TGroup2Ev1,     W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindCharacter, SepEnd), '1', E,
  TGroup2EbCl,    W(KindByte, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindReg8Fixed, SepEnd), 1, E,
  TGroup2EvCl,    W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 1, W(KindRmSized, SepComma), W(KindReg8Fixed, SepEnd), 1, E,
  TX87,           W(KindNothing, SepModRM), W(KindX87, SepNone), E,
  TJz,            W(KindRelative, SepEnd), E,
  TAlPort,        W(KindAl, SepComma), W(KindValue8, SepEnd), E,
  TeAxPort,       W(KindAccumulator, SepComma), W(KindValue8, SepEnd), E,
  TPortAl,        W(KindValue8, SepComma), W(KindAl, SepEnd), E,
  TPorteAx,       W(KindValue8, SepComma), W(KindAccumulator, SepEnd), E,
  TAlDx,          W(KindAl, SepComma), W(KindReg16Fixed, SepEnd), 2, E,
  TeAxDx,         W(KindAccumulator, SepComma), W(KindReg16Fixed, SepEnd), 2, E,
  TDxAl,          W(KindReg16Fixed, SepComma), 2, W(KindAl, SepEnd), E,
  TDxeAx,         W(KindReg16Fixed, SepComma), 2, W(KindAccumulator, SepEnd), E,
  TGroup3Eb,      W(KindByte, SepModRM), W(KindGroup, SepNone), 20, E,
  TGroup3Ev,      W(KindSizeV, SepModRM), W(KindGroup, SepNone), 21, E,
  TGroup4,        W(KindByte, SepModRM), W(KindGroupName, SepNone), 2, W(KindRmSized, SepEnd), E,
  TGroup5,        W(KindSizeV, SepModRM), W(KindGroup, SepNone), 22, E,
  TTestEbIb,      W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TTestEvIz,      W(KindRmSized, SepComma), W(KindImmediate, SepEnd), E,
  TRmSized,       W(KindRmSized, SepEnd), E,
  TFword,         W(KindFword, SepNone), W(KindRmSized, SepEnd), E,
  TGroup6,        W(KindWord, SepModRM), W(KindGroupName, SepNone), 3, W(KindRmSized, SepEnd), E,
  TGroup7,        W(KindNothing, SepModRM), W(KindGroup, SepNone), 23, E,
  TWord,          W(KindWord, SepNone), W(KindRmSized, SepEnd), E,
  TDword,         W(KindDword, SepNone), W(KindRmSized, SepEnd), E,
  TQword,         W(KindQword, SepNone), W(KindRmSized, SepEnd), E,
  TTbyte,         W(KindTbyte, SepNone), W(KindRmSized, SepEnd), E,
  TRmPlain,       W(KindRm, SepEnd), E,
  TSt,            W(KindSt, SepEnd), E,
  TStSt,          W(KindStSt, SepEnd), E,
  TStComma,       W(KindStComma, SepEnd), E,
  TMovFromSpecial, W(KindDword32, SepModRM), W(KindRm, SepComma), W(KindSpecialRegister, SepEnd), E,
  TMovToSpecial,  W(KindDword32, SepModRM), W(KindSpecialRegister, SepComma), W(KindRm, SepEnd), E,
  TSetcc,         W(KindByte, SepModRM), W(KindRmSized, SepEnd), E,
  TEvGvIb,        W(KindSizeV, SepModRM), W(KindRm, SepComma), W(KindRegV, SepComma), W(KindImmediate8, SepEnd), E,
  TEvGvCl,        W(KindSizeV, SepModRM), W(KindRm, SepComma), W(KindRegV, SepComma), W(KindReg8Fixed, SepEnd), 1, E,
  TGvEb,          W(KindByte, SepModRM), W(KindRegV, SepComma), W(KindRmSized, SepEnd), E,
  TGvEw,          W(KindWord, SepModRM), W(KindRegV, SepComma), W(KindRmSized, SepEnd), E,
  TGroup8,        W(KindSizeV, SepModRM), W(KindGroupName, SepNone), 4, W(KindRmSized, SepComma), W(KindImmediate8, SepEnd), E,
  TCmpxchg8b,     W(KindQword, SepModRM), W(KindRmSized, SepEnd), E,
  TBswap,         W(KindDword32, SepNone), W(KindRegOpcode, SepEnd), E,
  TXbts,          W(KindSizeV, SepModRM), W(KindRegV, SepComma), W(KindRm, SepComma), W(KindAccumulator, SepComma), W(KindReg8Fixed, SepEnd), 1, E,
  TIbts,          W(KindSizeV, SepModRM), W(KindRm, SepComma), W(KindRegV, SepComma), W(KindAccumulator, SepComma), W(KindReg8Fixed, SepEnd), 1, E,
};
// clang-format on

DECODER_TABLE const int32_t TemplateListLength = sizeof(TemplateList) / sizeof(TemplateList[0]);

namespace {

constexpr bool KindTakesArgument(int16_t kind) {
  return kind == KindSuffixD || kind == KindReg8Fixed || kind == KindCharacter ||
         kind == KindGroupName || kind == KindGroup || kind == KindStringOperation ||
         kind == KindReg16Fixed;
}

// Walks the list as the decoder's template search does and notes where each
// template's operand words begin.
struct TemplateIndex {
  int16_t start[256];
  int32_t count;
};

constexpr TemplateIndex IndexTemplates() {
  TemplateIndex index{};
  for (int16_t& s : index.start) s = -1;
  int32_t length = sizeof(TemplateList) / sizeof(TemplateList[0]);
  int32_t i = 0;
  while (i < length) {
    int16_t number = TemplateList[i++];
    if (number < 0 || number > 255 || index.start[number] != -1) return TemplateIndex{};
    index.start[number] = int16_t(i);
    index.count++;
    while (i < length && TemplateList[i] != TemplateEnd) {
      int16_t kind = int16_t(TemplateList[i] & 63);
      i += KindTakesArgument(kind) ? 2 : 1;
    }
    i++;  // the terminator
  }
  return index;
}

constexpr TemplateIndex Index = IndexTemplates();
static_assert(Index.count == TemplateCount, "93 templates, each numbered once");

}  // namespace

DECODER_TABLE const int16_t TemplateStart[256] = {
#define S(n) Index.start[(n)*16 + 0], Index.start[(n)*16 + 1], Index.start[(n)*16 + 2], \
             Index.start[(n)*16 + 3], Index.start[(n)*16 + 4], Index.start[(n)*16 + 5], \
             Index.start[(n)*16 + 6], Index.start[(n)*16 + 7], Index.start[(n)*16 + 8], \
             Index.start[(n)*16 + 9], Index.start[(n)*16 + 10], Index.start[(n)*16 + 11], \
             Index.start[(n)*16 + 12], Index.start[(n)*16 + 13], Index.start[(n)*16 + 14], \
             Index.start[(n)*16 + 15]
    S(0), S(1), S(2), S(3), S(4), S(5), S(6), S(7), S(8), S(9), S(10), S(11), S(12), S(13), S(14), S(15),
#undef S
};

// clang-format off
DECODER_TABLE const MnemonicRecord MnemonicTable[356] = {
  // 00h-0Fh
  {TEbGb, "ADD"}, {TEvGv, "ADD"}, {TGbEb, "ADD"}, {TGvEv, "ADD"}, {TAlIb, "ADD"}, {TeAxIz, "ADD"}, {TSegment, "PUSH"}, {TSegment, "POP"},
  {TEbGb, "OR"}, {TEvGv, "OR"}, {TGbEb, "OR"}, {TGvEv, "OR"}, {TAlIb, "OR"}, {TeAxIz, "OR"}, {TSegment, "PUSH"}, {TEscape, ""},
  // 10h-1Fh
  {TEbGb, "ADC"}, {TEvGv, "ADC"}, {TGbEb, "ADC"}, {TGvEv, "ADC"}, {TAlIb, "ADC"}, {TeAxIz, "ADC"}, {TSegment, "PUSH"}, {TSegment, "POP"},
  {TEbGb, "SBB"}, {TEvGv, "SBB"}, {TGbEb, "SBB"}, {TGvEv, "SBB"}, {TAlIb, "SBB"}, {TeAxIz, "SBB"}, {TSegment, "PUSH"}, {TSegment, "POP"},
  // 20h-2Fh
  {TEbGb, "AND"}, {TEvGv, "AND"}, {TGbEb, "AND"}, {TGvEv, "AND"}, {TAlIb, "AND"}, {TeAxIz, "AND"}, {TPrefixSeg, "ES:"}, {TNone, "DAA"},
  {TEbGb, "SUB"}, {TEvGv, "SUB"}, {TGbEb, "SUB"}, {TGvEv, "SUB"}, {TAlIb, "SUB"}, {TeAxIz, "SUB"}, {TPrefixSeg, "CS:"}, {TNone, "DAS"},
  // 30h-3Fh
  {TEbGb, "XOR"}, {TEvGv, "XOR"}, {TGbEb, "XOR"}, {TGvEv, "XOR"}, {TAlIb, "XOR"}, {TeAxIz, "XOR"}, {TPrefixSeg, "SS:"}, {TNone, "AAA"},
  {TEbGb, "CMP"}, {TEvGv, "CMP"}, {TGbEb, "CMP"}, {TGvEv, "CMP"}, {TAlIb, "CMP"}, {TeAxIz, "CMP"}, {TPrefixSeg, "DS:"}, {TNone, "AAS"},
  // 40h-4Fh
  {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"}, {TRegister, "INC"},
  {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"}, {TRegister, "DEC"},
  // 50h-5Fh
  {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"}, {TRegister, "PUSH"},
  {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"}, {TRegister, "POP"},
  // 60h-6Fh
  {TSuffix5, "PUSHA"}, {TSuffix4, "POPA"}, {TGvEv, "BOUND"}, {TArpl, "ARPL"}, {TPrefixSeg, "FS:"}, {TPrefixSeg, "GS:"}, {TPrefix66, ""}, {TPrefix67, ""},
  {TIz, "PUSH"}, {TGvEvIz, "IMUL"}, {TIb, "PUSH"}, {TGvEvIb, "IMUL"}, {TNone, "INSB"}, {TSuffix3, "INSW"}, {TNone, "OUTSB"}, {TSuffix4, "OUTSW"},
  // 70h-7Fh
  {TJb, "JO"}, {TJb, "JNO"}, {TJb, "JB"}, {TJb, "JAE"}, {TJb, "JE"}, {TJb, "JNE"}, {TJb, "JBE"}, {TJb, "JA"},
  {TJb, "JS"}, {TJb, "JNS"}, {TJb, "JP"}, {TJb, "JNP"}, {TJb, "JL"}, {TJb, "JGE"}, {TJb, "JLE"}, {TJb, "JG"},
  // 80h-8Fh
  {TGroup1EbIb, ""}, {TGroup1EvIz, ""}, {TNone, "???"}, {TGroup1EvIb, ""}, {TEbGb, "TEST"}, {TEvGv, "TEST"}, {TEbGb, "XCHG"}, {TEvGv, "XCHG"},
  {TEbGb, "MOV"}, {TEvGv, "MOV"}, {TGbEb, "MOV"}, {TGvEv, "MOV"}, {TEwSw, "MOV"}, {TGvEv, "LEA"}, {TSwEw, "MOV"}, {TEv, "POP"},
  // 90h-9Fh
  {TNone, "NOP"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"}, {TXchgAx, "XCHG"},
  {TCbw, "CBW"}, {TCwd, "CWD"}, {TAp, "CALL"}, {TNone, "WAIT"}, {TSuffix5, "PUSHF"}, {TSuffix4, "POPF"}, {TNone, "SAHF"}, {TNone, "LAHF"},
  // A0h-AFh
  {TAlOb, "MOV"}, {TeAxOv, "MOV"}, {TObAl, "MOV"}, {TOveAx, "MOV"}, {TNone, "MOVSB"}, {TString, "MOVSW"}, {TNone, "CMPSB"}, {TString, "CMPSW"},
  {TAlIb, "TEST"}, {TeAxIz, "TEST"}, {TNone, "STOSB"}, {TString, "STOSW"}, {TNone, "LODSB"}, {TString, "LODSW"}, {TNone, "SCASB"}, {TString, "SCASW"},
  // B0h-BFh
  {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"}, {TRegIb, "MOV"},
  {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"}, {TRegIv, "MOV"},
  // C0h-CFh
  {TGroup2EbIb, ""}, {TGroup2EvIb, ""}, {TIw, "RET"}, {TNone, "RET"}, {TGvMp, "LES"}, {TGvMp, "LDS"}, {TEbIb, "MOV"}, {TEvIz, "MOV"},
  {TEnter, "ENTER"}, {TNone, "LEAVE"}, {TIw, "RETF"}, {TNone, "RETF"}, {TInt3, "INT"}, {TValue, "INT"}, {TNone, "INTO"}, {TSuffix4, "IRET"},
  // D0h-DFh
  {TGroup2Eb1, ""}, {TGroup2Ev1, ""}, {TGroup2EbCl, ""}, {TGroup2EvCl, ""}, {TIb, "AAM"}, {TIb, "AAD"}, {TNone, "???"}, {TNone, "XLAT"},
  {TX87, ""}, {TX87, ""}, {TX87, ""}, {TX87, ""}, {TX87, ""}, {TX87, ""}, {TX87, ""}, {TX87, ""},
  // E0h-EFh
  {TJb, "LOOPNE"}, {TJb, "LOOPE"}, {TJb, "LOOP"}, {TJb, "JCXZ"}, {TAlPort, "IN"}, {TeAxPort, "IN"}, {TPortAl, "OUT"}, {TPorteAx, "OUT"},
  {TJz, "CALL"}, {TJz, "JMP"}, {TAp, "JMP"}, {TJb, "JMP"}, {TAlDx, "IN"}, {TeAxDx, "IN"}, {TDxAl, "OUT"}, {TDxeAx, "OUT"},
  // F0h-FFh
  {TPrefixRep, "LOCK"}, {TNone, "???"}, {TPrefixRep, "REPNE"}, {TPrefixRep, "REP"}, {TNone, "HLT"}, {TNone, "CMC"}, {TGroup3Eb, ""}, {TGroup3Ev, ""},
  {TNone, "CLC"}, {TNone, "STC"}, {TNone, "CLI"}, {TNone, "STI"}, {TNone, "CLD"}, {TNone, "STD"}, {TGroup4, ""}, {TGroup5, ""},

  // 256-262: 0F 00-06
  {TGroup6, ""}, {TGroup7, ""}, {TGvEw, "LAR"}, {TGvEw, "LSL"}, {TNone, "???"}, {TNone, "LOADALL"}, {TNone, "CLTS"},
  // 263-269: 0F 20-26
  {TMovFromSpecial, "MOV"}, {TMovFromSpecial, "MOV"}, {TMovToSpecial, "MOV"}, {TMovToSpecial, "MOV"}, {TMovFromSpecial, "MOV"}, {TNone, "???"}, {TMovToSpecial, "MOV"},
  // 270-272: 0F 30-32
  {TNone, "WRMSR"}, {TNone, "RDTSC"}, {TNone, "RDMSR"},
  // 273-274: not reached by the mapping
  {TNone, "???"}, {TNone, "???"},
  // 275: 0F 7F
  {TNone, "???"},
  // 276-291: 0F 80-8F
  {TJz, "JO"}, {TJz, "JNO"}, {TJz, "JB"}, {TJz, "JAE"}, {TJz, "JE"}, {TJz, "JNE"}, {TJz, "JBE"}, {TJz, "JA"},
  {TJz, "JS"}, {TJz, "JNS"}, {TJz, "JP"}, {TJz, "JNP"}, {TJz, "JL"}, {TJz, "JGE"}, {TJz, "JLE"}, {TJz, "JG"},
  // 292-307: 0F 90-9F
  {TSetcc, "SETO"}, {TSetcc, "SETNO"}, {TSetcc, "SETB"}, {TSetcc, "SETAE"}, {TSetcc, "SETE"}, {TSetcc, "SETNE"}, {TSetcc, "SETBE"}, {TSetcc, "SETA"},
  {TSetcc, "SETS"}, {TSetcc, "SETNS"}, {TSetcc, "SETP"}, {TSetcc, "SETNP"}, {TSetcc, "SETL"}, {TSetcc, "SETGE"}, {TSetcc, "SETLE"}, {TSetcc, "SETG"},
  // 308-323: 0F A0-AF
  {TSegment, "PUSH"}, {TSegment, "POP"}, {TNone, "CPUID"}, {TEvGv, "BT"}, {TEvGvIb, "SHLD"}, {TEvGvCl, "SHLD"}, {TXbts, "XBTS"}, {TIbts, "IBTS"},
  {TSegment, "PUSH"}, {TSegment, "POP"}, {TNone, "RSM"}, {TEvGv, "BTS"}, {TEvGvIb, "SHRD"}, {TEvGvCl, "SHRD"}, {TNone, "???"}, {TGvEv, "IMUL"},
  // 324-339: 0F B0-BF
  {TEbGb, "CMPXCHG"}, {TEvGv, "CMPXCHG"}, {TGvMp, "LSS"}, {TEvGv, "BTR"}, {TGvMp, "LFS"}, {TGvMp, "LGS"}, {TGvEb, "MOVZX"}, {TGvEw, "MOVZX"},
  {TNone, "???"}, {TNone, "???"}, {TGroup8, ""}, {TEvGv, "BTC"}, {TGvEv, "BSF"}, {TGvEv, "BSR"}, {TGvEb, "MOVSX"}, {TGvEw, "MOVSX"},
  // 340-355: 0F C0-CF
  {TEbGb, "XADD"}, {TEvGv, "XADD"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TCmpxchg8b, "CMPXCHG8B"},
  {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"}, {TBswap, "BSWAP"},
};

// Rows 0-15: x87 escapes D8h-DFh, memory row then register row; rows 16-19:
// D9h with reg 4-7 by rm; 20 F6h; 21 F7h; 22 FFh; 23 0F 01.
DECODER_TABLE const MnemonicRecord GroupTable[24][8] = {
  /* 0 D8 mem */ {{TDword, "FADD"}, {TDword, "FMUL"}, {TDword, "FCOM"}, {TDword, "FCOMP"}, {TDword, "FSUB"}, {TDword, "FSUBR"}, {TDword, "FDIV"}, {TDword, "FDIVR"}},
  /* 1 D8 reg */ {{TStComma, "FADD"}, {TStComma, "FMUL"}, {TSt, "FCOM"}, {TSt, "FCOMP"}, {TStComma, "FSUB"}, {TStComma, "FSUBR"}, {TStComma, "FDIV"}, {TStComma, "FDIVR"}},
  /* 2 D9 mem */ {{TDword, "FLD"}, {TNone, "???"}, {TDword, "FST"}, {TDword, "FSTP"}, {TRmPlain, "FLDENV"}, {TWord, "FLDCW"}, {TRmPlain, "FSTENV"}, {TWord, "FSTCW"}},
  /* 3 D9 reg */ {{TSt, "FLD"}, {TSt, "FXCH"}, {TNone, "FNOP"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}},
  /* 4 DA mem */ {{TDword, "FIADD"}, {TDword, "FIMUL"}, {TDword, "FICOM"}, {TDword, "FICOMP"}, {TDword, "FISUB"}, {TDword, "FISUBR"}, {TDword, "FIDIV"}, {TDword, "FIDIVR"}},
  /* 5 DA reg */ {{TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "FUCOMPP"}, {TNone, "???"}, {TNone, "???"}},
  /* 6 DB mem */ {{TDword, "FILD"}, {TNone, "???"}, {TDword, "FIST"}, {TDword, "FISTP"}, {TNone, "???"}, {TTbyte, "FLD"}, {TNone, "???"}, {TTbyte, "FSTP"}},
  /* 7 DB reg */ {{TNone, "???"}, {TNone, "???"}, {TNone, "FCLEX"}, {TNone, "FINIT"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}},
  /* 8 DC mem */ {{TQword, "FADD"}, {TQword, "FMUL"}, {TQword, "FCOM"}, {TQword, "FCOMP"}, {TQword, "FSUB"}, {TQword, "FSUBR"}, {TQword, "FDIV"}, {TQword, "FDIVR"}},
  /* 9 DC reg */ {{TStSt, "FADD"}, {TStSt, "FMUL"}, {TNone, "???"}, {TNone, "???"}, {TStSt, "FSUBR"}, {TStSt, "FSUB"}, {TStSt, "FDIVR"}, {TStSt, "FDIV"}},
  /* 10 DD mem */ {{TQword, "FLD"}, {TNone, "???"}, {TQword, "FST"}, {TQword, "FSTP"}, {TRmPlain, "FRSTOR"}, {TNone, "???"}, {TRmPlain, "FSAVE"}, {TWord, "FSTSW"}},
  /* 11 DD reg */ {{TSt, "FFREE"}, {TNone, "???"}, {TSt, "FST"}, {TSt, "FSTP"}, {TSt, "FUCOM"}, {TSt, "FUCOMP"}, {TNone, "???"}, {TNone, "???"}},
  /* 12 DE mem */ {{TWord, "FIADD"}, {TWord, "FIMUL"}, {TWord, "FICOM"}, {TWord, "FICOMP"}, {TWord, "FISUB"}, {TWord, "FISUBR"}, {TWord, "FIDIV"}, {TWord, "FIDIVR"}},
  /* 13 DE reg */ {{TStSt, "FADDP"}, {TStSt, "FMULP"}, {TNone, "???"}, {TNone, "FCOMPP"}, {TStSt, "FSUBRP"}, {TStSt, "FSUBP"}, {TStSt, "FDIVRP"}, {TStSt, "FDIVP"}},
  /* 14 DF mem */ {{TWord, "FILD"}, {TNone, "???"}, {TWord, "FIST"}, {TWord, "FISTP"}, {TTbyte, "FBLD"}, {TQword, "FILD"}, {TTbyte, "FBSTP"}, {TQword, "FISTP"}},
  /* 15 DF reg */ {{TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}, {TNone, "FSTSW"}, {TNone, "???"}, {TNone, "???"}, {TNone, "???"}},
  /* 16 D9 E0 */ {{TNone, "FCHS"}, {TNone, "FABS"}, {TNone, "???"}, {TNone, "???"}, {TNone, "FTST"}, {TNone, "FXAM"}, {TNone, "???"}, {TNone, "???"}},
  /* 17 D9 E8 */ {{TNone, "FLD1"}, {TNone, "FLDL2T"}, {TNone, "FLDL2E"}, {TNone, "FLDPI"}, {TNone, "FLDLG2"}, {TNone, "FLDLN2"}, {TNone, "FLDZ"}, {TNone, "???"}},
  /* 18 D9 F0 */ {{TNone, "F2XM1"}, {TNone, "FYL2X"}, {TNone, "FPTAN"}, {TNone, "FPATAN"}, {TNone, "FXTRACT"}, {TNone, "FPREM1"}, {TNone, "FDECSTP"}, {TNone, "FINCSTP"}},
  /* 19 D9 F8 */ {{TNone, "FPREM"}, {TNone, "FYL2XP1"}, {TNone, "FSQRT"}, {TNone, "FSINCOS"}, {TNone, "FRNDINT"}, {TNone, "FSCALE"}, {TNone, "FSIN"}, {TNone, "FCOS"}},
  /* 20 F6 */ {{TTestEbIb, "TEST"}, {TNone, "???"}, {TRmSized, "NOT"}, {TRmSized, "NEG"}, {TRmSized, "MUL"}, {TRmSized, "IMUL"}, {TRmSized, "DIV"}, {TRmSized, "IDIV"}},
  /* 21 F7 */ {{TTestEvIz, "TEST"}, {TNone, "???"}, {TRmSized, "NOT"}, {TRmSized, "NEG"}, {TRmSized, "MUL"}, {TRmSized, "IMUL"}, {TRmSized, "DIV"}, {TRmSized, "IDIV"}},
  /* 22 FF */ {{TRmSized, "INC"}, {TRmSized, "DEC"}, {TRmSized, "CALL"}, {TFword, "CALL"}, {TRmSized, "JMP"}, {TFword, "JMP"}, {TRmSized, "PUSH"}, {TNone, "???"}},
  /* 23 0F 01 */ {{TFword, "SGDT"}, {TFword, "SIDT"}, {TFword, "LGDT"}, {TFword, "LIDT"}, {TWord, "SMSW"}, {TNone, "???"}, {TWord, "LMSW"}, {TRmPlain, "INVLPG"}},
};

DECODER_TABLE const char GroupNameTable[5][8][10] = {
  /* 0 80h 81h 83h */ {"ADD", "OR", "ADC", "SBB", "AND", "SUB", "XOR", "CMP"},
  /* 1 C0h C1h D0h-D3h */ {"ROL", "ROR", "RCL", "RCR", "SHL", "SHR", "SAL", "SAR"},
  /* 2 FEh */ {"INC", "DEC", "???", "???", "???", "???", "???", "???"},
  /* 3 0F 00 */ {"SLDT", "STR", "LLDT", "LTR", "VERR", "VERW", "???", "???"},
  /* 4 0F BA */ {"???", "???", "???", "???", "BT", "BTS", "BTR", "BTC"},
};
// clang-format on

DECODER_TABLE const char Register8Names[17] = "alcldlblahchdhbh";
DECODER_TABLE const char Register16Names[17] = "axcxdxbxspbpsidi";
DECODER_TABLE const char SegmentLetters[7] = "ecsdfg";
DECODER_TABLE const char AddressRegisters32[8][4] = {"eax", "ecx", "edx", "ebx", "esp", "ebp", "esi", "edi"};
DECODER_TABLE const char AddressForms16[8][6] = {"bx+si", "bx+di", "bp+si", "bp+di", "si", "di", "bp", "bx"};
DECODER_TABLE const char KeywordByte[6] = "byte ";
DECODER_TABLE const char KeywordWord[6] = "word ";
DECODER_TABLE const char KeywordDword[7] = "dword ";
DECODER_TABLE const char KeywordQword[7] = "qword ";
DECODER_TABLE const char KeywordTbyte[7] = "tbyte ";
DECODER_TABLE const char KeywordFword[7] = "fword ";
DECODER_TABLE const char HexDigits[17] = "0123456789ABCDEF";

// clang-format off
DECODER_TABLE const LongModeRecord LongModeRecords[] = {
  {1, 0x63, {TGvEv, "MOVSXD"}},
  {2, 0x05, {TNone, "SYSCALL"}}, {2, 0x07, {TNone, "SYSRET"}}, {2, 0x0B, {TNone, "UD2"}}, {2, 0x1F, {TEv, "NOP"}},
  {2, 0x40, {TGvEv, "CMOVO"}}, {2, 0x41, {TGvEv, "CMOVNO"}}, {2, 0x42, {TGvEv, "CMOVB"}}, {2, 0x43, {TGvEv, "CMOVAE"}},
  {2, 0x44, {TGvEv, "CMOVE"}}, {2, 0x45, {TGvEv, "CMOVNE"}}, {2, 0x46, {TGvEv, "CMOVBE"}}, {2, 0x47, {TGvEv, "CMOVA"}},
  {2, 0x48, {TGvEv, "CMOVS"}}, {2, 0x49, {TGvEv, "CMOVNS"}}, {2, 0x4A, {TGvEv, "CMOVP"}}, {2, 0x4B, {TGvEv, "CMOVNP"}},
  {2, 0x4C, {TGvEv, "CMOVL"}}, {2, 0x4D, {TGvEv, "CMOVGE"}}, {2, 0x4E, {TGvEv, "CMOVLE"}}, {2, 0x4F, {TGvEv, "CMOVG"}},
  {2, 0x24, {TNone, "???"}}, {2, 0x26, {TNone, "???"}},
};
// clang-format on
DECODER_TABLE const int32_t LongModeRecordCount = sizeof(LongModeRecords) / sizeof(LongModeRecords[0]);

namespace {
// Short names for the shape grids.
constexpr uint8_t N_ = ShapeNone, M_ = ShapeModRM, MB = ShapeModRMIb, MZ = ShapeModRMIz, IB = ShapeIb,
                  IW = ShapeIw, IZ = ShapeIz, IV = ShapeIv, EN = ShapeIwIb, OF = ShapeOffset,
                  G3 = ShapeGroup3Ib, G7 = ShapeGroup3Iz, PF = ShapePrefix, RX = ShapeRex,
                  ES = ShapeEscape, V3 = ShapeVex3, V2 = ShapeVex2, EV = ShapeEvex, XX = ShapeInvalid,
                  T3 = ShapeThreeByte, MI = ShapeModRMIbIb;
}  // namespace

// clang-format off
// One-byte opcodes in 64-bit mode.
DECODER_TABLE const uint8_t OneByteShapes[256] = {
  //   0   1   2   3   4   5   6   7   8   9   A   B   C   D   E   F
  /*0*/ M_, M_, M_, M_, IB, IZ, XX, XX, M_, M_, M_, M_, IB, IZ, XX, ES,
  /*1*/ M_, M_, M_, M_, IB, IZ, XX, XX, M_, M_, M_, M_, IB, IZ, XX, XX,
  /*2*/ M_, M_, M_, M_, IB, IZ, PF, XX, M_, M_, M_, M_, IB, IZ, PF, XX,
  /*3*/ M_, M_, M_, M_, IB, IZ, PF, XX, M_, M_, M_, M_, IB, IZ, PF, XX,
  /*4*/ RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX, RX,
  /*5*/ N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, N_,
  /*6*/ XX, XX, EV, M_, PF, PF, PF, PF, IZ, MZ, IB, MB, N_, N_, N_, N_,
  /*7*/ IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB, IB,
  /*8*/ MB, MZ, XX, MB, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*9*/ N_, N_, N_, N_, N_, N_, N_, N_, N_, N_, XX, N_, N_, N_, N_, N_,
  /*A*/ OF, OF, OF, OF, N_, N_, N_, N_, IB, IZ, N_, N_, N_, N_, N_, N_,
  /*B*/ IB, IB, IB, IB, IB, IB, IB, IB, IV, IV, IV, IV, IV, IV, IV, IV,
  /*C*/ MB, MB, IW, N_, V3, V2, MB, MZ, EN, N_, IW, N_, N_, IB, XX, N_,
  /*D*/ M_, M_, M_, M_, XX, XX, XX, N_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*E*/ IB, IB, IB, IB, IB, IB, IB, IB, IZ, IZ, XX, IB, N_, N_, N_, N_,
  /*F*/ PF, N_, PF, PF, N_, N_, G3, G7, N_, N_, N_, N_, N_, N_, M_, M_,
};

// Opcodes after 0Fh in 64-bit mode.
DECODER_TABLE const uint8_t TwoByteShapes[256] = {
  //   0   1   2   3   4   5   6   7   8   9   A   B   C   D   E   F
  /*0*/ M_, M_, M_, M_, XX, N_, N_, N_, N_, N_, XX, N_, XX, M_, N_, MB,
  /*1*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*2*/ M_, M_, M_, M_, XX, XX, XX, XX, M_, M_, M_, M_, M_, M_, M_, M_,
  /*3*/ N_, N_, N_, N_, N_, N_, XX, N_, T3, XX, T3, XX, XX, XX, XX, XX,
  /*4*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*5*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*6*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*7*/ MB, MB, MB, MB, M_, M_, M_, N_, MI, M_, XX, XX, M_, M_, M_, M_,
  /*8*/ IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ, IZ,
  /*9*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*A*/ N_, N_, N_, M_, MB, M_, XX, XX, N_, N_, N_, M_, MB, M_, M_, M_,
  /*B*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, MB, M_, M_, M_, M_, M_,
  /*C*/ M_, M_, MB, M_, MB, MB, MB, M_, N_, N_, N_, N_, N_, N_, N_, N_,
  /*D*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*E*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
  /*F*/ M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_, M_,
};
// clang-format on
