// Tests of the instruction decoder: the documented decoding examples, prefix
// lines, operand kinds, fix-ups, the own-region guard, long mode, and the text
// handed to the StringBuffer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "errors/decoder.h"
#include "runtime/strings.h"

namespace {

std::atomic<long> Allocations{0};

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    if (hex[i] == ' ') {
      i--;
      continue;
    }
    bytes.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

struct Example {
  const char* bytes;
  int32_t length;
  const char* line;
};

constexpr uint64_t At = 0x00401000;

void ExpectDecodes(const std::vector<Example>& examples, int32_t mode) {
  for (const Example& e : examples) {
    std::vector<uint8_t> bytes = Bytes(e.bytes);
    int32_t length = InstructionDecodeBytes(bytes.data(), int32_t(bytes.size()), At, mode);
    EXPECT_EQ(length, e.length) << e.bytes;
    EXPECT_STREQ(InstructionLine(), e.line) << e.bytes;
  }
}

}  // namespace

// Counts every allocation of the test program, to show that decoding makes none.
// Kept out of line: inlined into a caller, the free below is paired with that
// caller's operator new and optimised builds warn of a mismatch.
__attribute__((noinline)) void* operator new(size_t size) {
  Allocations++;
  if (void* p = std::malloc(size ? size : 1)) return p;
  std::abort();
}
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }

TEST(DecoderExamples, DocumentedBytesLengthsAndLines) {
  ExpectDecodes({
                    {"90", 1, "NOP "},
                    {"8B442408", 4, "MOV Eax,[esp+08]"},
                    {"C745F801000000", 7, "MOV dword [ebp+F8],00000001"},
                    {"66B83412", 4, "db 66h\r\nMOV ax,1234"},
                    {"F3A5", 2, "REP MOVSD "},
                    {"EBFE", 2, "JMP 00401000"},
                    {"E800000000", 5, "CALL 00401005"},
                    {"D9E8", 2, "FLD1 "},
                    {"CD21", 2, "INT 21"},
                    {"9A785634120010", 7, "CALL 1000:12345678"},
                    {"D40A", 2, "AAM 0A"},
                    {"D410", 2, "AAM ???"},
                    {"0F05", 2, "LOADALL "},
                    {"0F0B", 2, "??? "},
                    {"8CC0", 2, "MOV Eax,eS"},
                },
                InstructionMode32);
}

TEST(DecoderExamples, HostDecodeReturnsTheNextAddress) {
  static const uint8_t code[] = {0x8B, 0x44, 0x24, 0x08, 0x90};
  uintptr_t address = reinterpret_cast<uintptr_t>(code);
  EXPECT_EQ(InstructionDecode(address), address + 4);
  EXPECT_STREQ(InstructionLine(), "MOV Eax,[rsp+08]");
  EXPECT_EQ(InstructionDecode(address + 4), address + 5);
}

TEST(DecoderPrefixes, SizePrefixesLeaveLinesOfTheirOwn) {
  ExpectDecodes({
                    {"678B00", 3, "db 67h\r\nMOV Eax,[bx+si]"},
                    {"66678B4610", 5, "db 66h\r\ndb 67h\r\nMOV ax,[bp+10]"},
                    {"678B063412", 5, "db 67h\r\nMOV Eax,[1234]"},
                    {"67A13412", 4, "db 67h\r\nMOV Eax,[1234]"},
                    {"66A178563412", 6, "db 66h\r\nMOV ax,[12345678]"},
                    {"6698", 2, "db 66h\r\nCBW "},
                    {"6660", 2, "db 66h\r\nPUSHA "},
                },
                InstructionMode32);
}

TEST(DecoderPrefixes, SegmentLockAndRepeatStayOnTheLine) {
  ExpectDecodes({
                    {"648B00", 3, "FS: MOV Eax,FS:[eax]"},
                    {"2EA100100000", 6, "CS: MOV Eax,CS:[00001000]"},
                    {"F00100", 3, "LOCK ADD [eax],Eax"},
                    {"F2AE", 2, "REPNE SCASB "},
                    {"F366AB", 3, "REP db 66h\r\nSTOSW "},
                    {"26C60001", 4, "ES: MOV byte ES:[eax],01"},
                },
                InstructionMode32);
}

TEST(DecoderPrefixes, LongRunsAreCutAtTheLineCapacity) {
  std::vector<uint8_t> bytes(40, 0x66);
  bytes.push_back(0x90);
  EXPECT_EQ(InstructionDecodeBytes(bytes.data(), int32_t(bytes.size()), 0, InstructionMode32), 41);
  EXPECT_EQ(std::string(InstructionLine()).size(), 255u);
}

TEST(DecoderOperands, SizeSuffixesAndStringOperations) {
  ExpectDecodes({
                    {"98", 1, "CWDE "},
                    {"99", 1, "CDQ "},
                    {"6699", 2, "db 66h\r\nCWD "},
                    {"60", 1, "PUSHAD "},
                    {"9D", 1, "POPFD "},
                    {"6D", 1, "INSD "},
                    {"6F", 1, "OUTSD "},
                    {"CF", 1, "IRETD "},
                    {"A4", 1, "MOVSB "},
                    {"66A5", 2, "db 66h\r\nMOVSW "},
                    {"AD", 1, "LODSD "},
                },
                InstructionMode32);
}

TEST(DecoderOperands, JumpsCallsAndJecxz) {
  ExpectDecodes({
                    {"E3FE", 2, "JECXZ 00401000"},
                    {"67E3FD", 3, "db 67h\r\nJCXZ 1000"},
                    {"66E3FE", 3, "JECXZ 00401001"},
                    {"7410", 2, "JE 00401012"},
                    {"0F8400010000", 6, "JE 00401106"},
                    {"E9FBFFFFFF", 5, "JMP 00401000"},
                    {"EA785634120010", 7, "JMP 1000:12345678"},
                    {"669A34120010", 6, "db 66h\r\nCALL 1000:1234"},
                    {"C20800", 3, "RET 0008"},
                    {"C8100001", 4, "ENTER 0010,01"},
                    {"CC", 1, "INT 3"},
                },
                InstructionMode32);
}

TEST(DecoderOperands, AddressingForms) {
  ExpectDecodes({
                    {"8B048D00100000", 7, "MOV Eax,[00001000+ecx*4]"},
                    {"8B448B10", 4, "MOV Eax,[ebx+ecx*4+10]"},
                    {"8B8424F0FFFFFF", 7, "MOV Eax,[esp+FFFFFFF0]"},
                    {"8B0578563412", 6, "MOV Eax,[12345678]"},
                    {"8B4500", 3, "MOV Eax,[ebp+00]"},
                    {"8A4F01", 3, "MOV cl,[edi+01]"},
                    {"67038700F0", 5, "db 67h\r\nADD Eax,[bx+F000]"},
                    {"88E0", 2, "MOV al,ah"},
                    {"0FB6C3", 3, "MOVZX Eax,bl"},
                    {"0FB7C3", 3, "MOVZX Eax,bx"},
                    {"0FBF00", 3, "MOVSX Eax,word [eax]"},
                    {"8D0C40", 3, "LEA Ecx,[eax+eax*2]"},
                },
                InstructionMode32);
}

TEST(DecoderOperands, GroupsAndImmediates) {
  ExpectDecodes({
                    {"803805", 3, "CMP byte [eax],05"},
                    {"8100FFFF0000", 6, "ADD dword [eax],0000FFFF"},
                    // The group name replaces the whole line, the prefix line with it.
                    {"6681C03412", 5, "ADD ax,1234"},
                    {"83E8FF", 3, "SUB Eax,FF"},
                    {"C1E004", 3, "SHL Eax,04"},
                    {"D1F8", 2, "SAR Eax,1"},
                    {"D2E0", 2, "SHL al,cl"},
                    {"F6C101", 3, "TEST cl,01"},
                    {"F7D8", 2, "NEG Eax"},
                    {"F7C078563412", 6, "TEST Eax,12345678"},
                    {"FE00", 2, "INC byte [eax]"},
                    {"FE10", 2, "??? byte [eax]"},
                    {"FF1578563412", 6, "CALL dword [12345678]"},
                    {"FF18", 2, "CALL fword [eax]"},
                    {"FFE0", 2, "JMP Eax"},
                    {"0FBAE003", 4, "BT Eax,03"},
                    {"6BC00A", 3, "IMUL Eax,Eax,0A"},
                    {"0FA4C204", 4, "SHLD Edx,Eax,04"},
                    {"0FADC2", 3, "SHRD Edx,Eax,cl"},
                    {"ECED", 1, "IN al,dx"},
                    {"E680", 2, "OUT 80,al"},
                    {"C4060000", 2, "LES Eax,fword [esi]"},
                },
                InstructionMode32);
}

TEST(DecoderOperands, SystemAndSpecialRegisters) {
  ExpectDecodes({
                    {"0F20C0", 3, "MOV Eax,CR0"},
                    {"0F23F8", 3, "MOV DR7,Eax"},
                    {"0F26F0", 3, "MOV TR6,Eax"},
                    {"660F22D8", 4, "db 66h\r\nMOV CR3,Eax"},
                    {"0F0F", 2, "??? "},
                    {"0FA2", 2, "CPUID "},
                    {"0FA1", 2, "POP fS"},
                    {"0FA8", 2, "PUSH gS"},
                    {"1E", 1, "PUSH dS"},
                    {"8ED8", 2, "MOV dS,ax"},
                    {"0FC7 0E", 3, "CMPXCHG8B qword [esi]"},
                    {"0FC9", 2, "BSWAP Ecx"},
                    {"0FC1C8", 3, "XADD Eax,Ecx"},
                    {"0F0138", 3, "INVLPG [eax]"},
                    {"0F0110", 3, "LGDT fword [eax]"},
                    {"82", 1, "??? "},
                    {"D6", 1, "??? "},
                    {"F1", 1, "??? "},
                },
                InstructionMode32);
}

TEST(DecoderOperands, X87Escapes) {
  ExpectDecodes({
                    {"D8C1", 2, "FADD st,st(1)"},
                    {"D8D1", 2, "FCOM st(1)"},
                    {"DCC1", 2, "FADD st(1),st"},
                    {"DEF9", 2, "FDIVP st(1),st"},
                    {"D9C9", 2, "FXCH st(1)"},
                    {"D9EE", 2, "FLDZ "},
                    {"D9FF", 2, "FCOS "},
                    {"D9E1", 2, "FABS "},
                    {"DBE3", 2, "FINIT "},
                    {"DBE0", 2, "??? "},
                    {"DAE9", 2, "FUCOMPP "},
                    {"DED9", 2, "FCOMPP "},
                    {"D945FC", 3, "FLD dword [ebp+FC]"},
                    {"DD5DF8", 3, "FSTP qword [ebp+F8]"},
                    {"DB28", 2, "FLD tbyte [eax]"},
                    {"DF2C24", 3, "FILD qword [esp]"},
                    {"D97DFE", 3, "FSTCW word [ebp+FE]"},
                    {"D930", 2, "FSTENV [eax]"},
                },
                InstructionMode32);
}

TEST(DecoderFixUps, StatusWordGetsAx) {
  ExpectDecodes({{"DFE0", 2, "FSTSW ax"}, {"DD38", 2, "FSTSW word [eax]"}}, InstructionMode32);
}

TEST(DecoderFixUps, SelectorInstructionsNameSixteenBitRegisters) {
  ExpectDecodes({
                    {"0F00D0", 3, "LLDT ax"},
                    {"0F00C1", 3, "SLDT cx"},
                    {"0F00E2", 3, "VERR dx"},
                    {"0F00EB", 3, "VERW bx"},
                    {"0F00DE", 3, "LTR si"},
                    {"0F00CF", 3, "STR di"},
                    {"0F0010", 3, "LLDT word [eax]"},
                    {"0F000D78563412", 7, "STR word [12345678]"},
                    // A 16-bit name already has no "E" to lose.
                    {"660F00C0", 4, "SLDT ax"},
                },
                InstructionMode32);
}

TEST(DecoderFixUps, MachineStatusWordRegistersAreSixteenBit) {
  ExpectDecodes({
                    {"0F01E0", 3, "SMSW ax"},
                    {"0F01E4", 3, "SMSW sp"},
                    {"0F01F7", 3, "LMSW di"},
                    {"0F01F3", 3, "LMSW bx"},
                    {"0F0120", 3, "SMSW word [eax]"},
                },
                InstructionMode32);
}

TEST(DecoderMended, RelativeTargetsFollowTheOperandSize) {
  ExpectDecodes({
                    {"66E81000", 4, "db 66h\r\nCALL 00001014"},
                    {"67E810000000", 6, "db 67h\r\nCALL 1016"},
                    {"660F840010", 5, "db 66h\r\nJE 00002005"},
                },
                InstructionMode32);
}

TEST(DecoderMended, SpecialRegisterMovesIgnoreMod) {
  ExpectDecodes({{"0F2000", 3, "MOV Eax,CR0"}, {"0F2245", 3, "MOV CR0,Ebp"}}, InstructionMode32);
}

TEST(DecoderMended, UnknownSegmentRegisterIsNotReadPastTheNames) {
  ExpectDecodes({{"8CF0", 2, "MOV Eax,?S"}, {"8EF8", 2, "MOV ?S,ax"}}, InstructionMode32);
}

TEST(DecoderBytes, RunningPastTheBytesGivesZeroAndNoText) {
  std::vector<uint8_t> bytes = Bytes("C745F8010000");
  EXPECT_EQ(InstructionDecodeBytes(bytes.data(), 6, 0, InstructionMode32), 0);
  EXPECT_STREQ(InstructionLine(), "");
  EXPECT_EQ(InstructionDecodeBytes(bytes.data(), 6, 0, InstructionMode64), 0);
  EXPECT_EQ(InstructionDecodeBytes(bytes.data(), 6, 0, 16), 0);
  bytes = Bytes("666666");
  EXPECT_EQ(InstructionDecodeBytes(bytes.data(), 3, 0, InstructionMode32), 0);
}

TEST(DecoderGuard, OwnRegionIsRefusedWithEmptyText) {
  static const uint8_t nop[] = {0x90};
  ASSERT_NE(InstructionDecode(reinterpret_cast<uintptr_t>(nop)), 0u);
  ASSERT_STRNE(InstructionLine(), "");
  uintptr_t inside[] = {reinterpret_cast<uintptr_t>(&InstructionDecode) + 1,
                        reinterpret_cast<uintptr_t>(&InstructionText) + 1,
                        reinterpret_cast<uintptr_t>(&InstructionDecodeBytes) + 1};
  for (uintptr_t address : inside) {
    EXPECT_TRUE(InstructionRegionContains(address));
    EXPECT_EQ(InstructionDecode(address), 0u);
    EXPECT_STREQ(InstructionLine(), "");
  }
  EXPECT_FALSE(InstructionRegionContains(reinterpret_cast<uintptr_t>(nop)));
  EXPECT_FALSE(InstructionRegionContains(reinterpret_cast<uintptr_t>(&Allocations)));
}

TEST(DecoderLongMode, RexRipRelativeAndSixtyFourBitOperands) {
  ExpectDecodes({
                    {"4889E5", 3, "MOV Rbp,Rsp"},
                    {"488B0524000000", 7, "MOV Rax,[rip+00000024]"},
                    {"4C8D2D00000000", 7, "LEA r13,[rip+00000000]"},
                    {"678B0510000000", 7, "db 67h\r\nMOV Eax,[eip+00000010]"},
                    {"48B80102030405060708", 10, "MOV Rax,0807060504030201"},
                    {"B878563412", 5, "MOV Eax,12345678"},
                    {"4088F0", 3, "MOV al,sil"},
                    {"88E0", 2, "MOV al,ah"},
                    {"458B4C8810", 5, "MOV r9d,[r8+rcx*4+10]"},
                    {"4A8B04E0", 4, "MOV Rax,[rax+r12*8]"},
                    {"55", 1, "PUSH Rbp"},
                    {"4155", 2, "PUSH r13"},
                    {"FFD0", 2, "CALL Rax"},
                    {"41FFD3", 3, "CALL r11"},
                    {"4863C1", 3, "MOVSXD Rax,Ecx"},
                    {"480F44C1", 4, "CMOVE Rax,Rcx"},
                    {"0F1F4000", 4, "NOP dword [rax+00]"},
                    {"0F05", 2, "SYSCALL "},
                    {"4898", 2, "CDQE "},
                    {"4899", 2, "CQO "},
                    {"48A5", 2, "MOVSQ "},
                    {"E3FE", 2, "JRCXZ 0000000000401000"},
                    {"E8FBFFFFFF", 5, "CALL 0000000000401000"},
                    {"48A10807060504030201", 10, "MOV Rax,[0102030405060708]"},
                    {"0F20D8", 3, "MOV Rax,CR3"},
                },
                InstructionMode64);
}

TEST(DecoderLongMode, VectorAndUnknownEncodingsAreMeasuredExactly) {
  ExpectDecodes({
                    {"C5F877", 3, "??? "},
                    {"C5FD6F0424", 5, "??? "},
                    {"C4E37D18C001", 6, "??? "},
                    {"C4E2F9F7C1", 5, "??? "},
                    {"62F17C4828C1", 6, "??? "},
                    {"62F1FD48C2C801", 7, "??? "},
                    {"660F3A0FC108", 6, "??? "},
                    {"660F383800", 5, "??? "},
                    {"F30F1EFA", 4, "??? "},
                    {"F30F6F0424", 5, "??? "},
                    {"660FEFC0", 4, "??? "},
                    {"0F0F C0B4", 4, "??? "},
                    {"06", 1, "??? "},
                    {"D5", 1, "??? "},
                    {"F6C101", 3, "TEST cl,01"},
                    {"F7D8", 2, "NEG Eax"},
                },
                InstructionMode64);
}

TEST(DecoderText, InstructionTextAppendsTheLineAtThePosition) {
  StringSystemInit();
  std::vector<uint8_t> bytes = Bytes("66B83412");
  ASSERT_EQ(InstructionDecodeBytes(bytes.data(), 4, 0, InstructionMode32), 4);
  StrAppend(u"x");
  int32_t start = StringBufferFill;
  InstructionText(StringBufferFill);
  std::u16string expected = u"db 66h\r\nMOV ax,1234";
  EXPECT_EQ(StringBufferFill, start + int32_t(2 * expected.size()));
  const char16_t* text = reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(StringBufferBase) + start);
  EXPECT_EQ(std::u16string(text), expected);
  EXPECT_EQ(std::u16string(StringBufferBase), u"x" + expected);
}

TEST(DecoderPurity, DecodingNeverAllocates) {
  std::vector<std::vector<uint8_t>> stream = {Bytes("8B442408"), Bytes("66B83412"), Bytes("D9E8"),
                                              Bytes("0F00D0"), Bytes("62F17C4828C1"), Bytes("488B0524000000")};
  long before = Allocations.load();
  int32_t total = 0;
  for (int round = 0; round < 1000; round++) {
    for (const auto& b : stream) {
      total += InstructionDecodeBytes(b.data(), int32_t(b.size()), 0, round & 1 ? InstructionMode64 : InstructionMode32);
    }
    total += InstructionDecode(reinterpret_cast<uintptr_t>(stream[0].data())) != 0;
  }
  EXPECT_EQ(Allocations.load(), before);
  EXPECT_GT(total, 0);
}
