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

// Creates the StringHeap and the StringBuffer (16 bytes, fill 0); ends the
// process through RuntimeOutOfMemory when the heap cannot supply them.
void StringSystemInit();

// The protocol: an expression starts at start = StringBufferFill; producers
// append at the fill position and leave a zero character there; the result is
// handed on with StrArgBegin(start) or stored with StrAssign(&v, start), and
// StrArgEnd(start) (or StrAssign) sets the fill position back. Addresses into
// the buffer are valid only until the next producer, which may move it.

// Makes room for n characters at position and sets the fill position after
// them; the address of position, its characters uninitialised, no terminator.
char16_t* StrReserve(int32_t n, int32_t position);
// Moves the fill position back by n characters (after reserving too many).
void StrGiveBack(int32_t n);
// Copies n characters (never reading the source past them) and writes a zero after them.
void StrCopyChars(char16_t* destination, const char16_t* source, int32_t n);
// Appends a string at the fill position (null appends nothing); leaves a zero there.
void StrAppend(const char16_t* text);
// Copies the text from start to the fill position into the variable (resized
// in place) and sets the fill position back to start.
void StrAssign(StringVariable* variable, int32_t start);
// Gives a fresh variable its own copy of text, not freeing what it held; null leaves it alone.
void StrInit(StringVariable* variable, const char16_t* text);
// Copies text into the variable (its own block may be the source); null frees it and makes it empty.
void StrSet(StringVariable* variable, const char16_t* text);
// Frees a variable's StringHeap block; null does nothing.
void StrFree(char16_t* block);
// 1 when both hold the same characters (null counts as ""), else 0: equality, not an order.
int32_t StrCompare(const char16_t* a, const char16_t* b);
// Appends the decimal form (minus sign, no leading zeros or spaces) at position.
void StrFromInt(int32_t value, int32_t position);
// The value of the leading digits after spaces, tabs and a sign, wrapping
// modulo 2^32; 0 for null or no digits.
int32_t IntFromStr(const char16_t* text);
// Appends a string of the system code page at position; nothing for null or text it cannot convert.
void StrFromAnsi(const char* text, int32_t position);

// The expression protocol's use-as-argument step: steps past the zero
// character and hands out the expression that began at start. Valid until the
// fill position is set back with StrArgEnd(start).
char16_t* StrArgBegin(int32_t start);
void StrArgEnd(int32_t start);
