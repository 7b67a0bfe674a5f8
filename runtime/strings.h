// The StringBuffer (the shared grow-only scratch area in which every string
// expression is built), string variables and string/integer conversions.
// Positions are byte offsets from StringBufferBase, because it moves on growth.
#pragma once

#include <cstdint>

extern char16_t* StringBufferBase;
extern int32_t StringBufferFill;      // byte offset of the next character; always even
extern int32_t StringBufferCapacity;  // growth bookkeeping; storage is capacity + 10 bytes

// A string variable: null for the empty string, else its own StringHeap block
// of exactly 2 * length + 10 bytes.
typedef char16_t* StringVariable;

// Creates the StringHeap and the StringBuffer (16 bytes, fill 0).
void StringSystemInit();

char16_t* StrReserve(int32_t n, int32_t position);
void StrGiveBack(int32_t n);
void StrCopyChars(char16_t* destination, const char16_t* source, int32_t n);
void StrAppend(const char16_t* text);
void StrAssign(StringVariable* variable, int32_t start);
void StrInit(StringVariable* variable, const char16_t* text);
void StrSet(StringVariable* variable, const char16_t* text);
void StrFree(char16_t* block);
int32_t StrCompare(const char16_t* a, const char16_t* b);
void StrFromInt(int32_t value, int32_t position);
int32_t IntFromStr(const char16_t* text);
void StrFromAnsi(const char* text, int32_t position);

// The expression protocol's use-as-argument step: steps past the zero
// character and hands out the expression that began at start. Valid until the
// fill position is set back with StrArgEnd(start).
char16_t* StrArgBegin(int32_t start);
void StrArgEnd(int32_t start);
