// The StringBuffer, string variables and string/integer conversions. Every
// expression is built at the fill position and given back when consumed, so
// temporaries nest like a stack; string variables own exact-size blocks of
// the StringHeap (2 * length + 10 bytes).
#include "runtime/strings.h"

#include <cstring>

#include "platform/kernel.h"
#include "runtime/runtime.h"

char16_t* StringBufferBase;
int32_t StringBufferFill;
int32_t StringBufferCapacity;

namespace {

int32_t WideLength(const char16_t* text) {
  const char16_t* p = text;
  while (*p) p++;
  return int32_t(p - text);
}

// A StringHeap block for a variable, allocated or resized; never null.
char16_t* VariableBlock(char16_t* block, int64_t bytes) {
  if (bytes > INT32_MAX) RuntimeOutOfMemory("a string variable exceeds 2 GiB");
  void* result = block ? HeapReAlloc(StringHeap, HEAP_NO_SERIALIZE, block, size_t(bytes))
                       : HeapAlloc(StringHeap, HEAP_NO_SERIALIZE, size_t(bytes));
  if (!result) RuntimeOutOfMemory("the StringHeap cannot supply a string variable");
  return static_cast<char16_t*>(result);
}

// Grows the storage when writing `bytes` more at the fill position would come
// within 4 bytes of the capacity.
void EnsureRoom(int64_t bytes) {
  int64_t needed = int64_t(StringBufferFill) + bytes;
  if (needed < int64_t(StringBufferCapacity) - 4) return;
  int64_t capacity = needed + 16384;
  if (capacity + 10 > INT32_MAX) RuntimeOutOfMemory("the StringBuffer would exceed 2 GiB");
  void* storage = HeapReAlloc(StringHeap, HEAP_NO_SERIALIZE, StringBufferBase, size_t(capacity + 10));
  if (!storage) RuntimeOutOfMemory("the StringHeap cannot grow the StringBuffer");
  StringBufferCapacity = int32_t(capacity);
  StringBufferBase = static_cast<char16_t*>(storage);
}

// Makes sure a zero character fits at the fill position. Only a chain of
// argument steps without any append between them can run out of that room.
void EnsureTerminatorRoom() {
  if (size_t(StringBufferFill) + 2 > HeapSize(StringHeap, HEAP_NO_SERIALIZE, StringBufferBase)) EnsureRoom(2);
}

char16_t* At(int32_t position) {
  return reinterpret_cast<char16_t*>(reinterpret_cast<char*>(StringBufferBase) + position);
}

}  // namespace

void StringSystemInit() {
  StringHeap = RuntimeHeapCreate(HEAP_NO_SERIALIZE, 4096, "StringHeap");
  StringBufferBase = static_cast<char16_t*>(HeapAlloc(StringHeap, HEAP_NO_SERIALIZE | HEAP_ZERO_MEMORY, 16));
  if (!StringBufferBase) RuntimeOutOfMemory("the StringHeap cannot supply the StringBuffer");
  StringBufferFill = 0;
  StringBufferCapacity = 16;
}

// Makes room for n characters and sets the fill position to position + 2n;
// the address of position (uninitialised, no terminator written).
char16_t* StrReserve(int32_t n, int32_t position) {
  EnsureRoom(int64_t(n) * 2);
  StringBufferFill = position + 2 * n;
  return At(position);
}

void StrGiveBack(int32_t n) { StringBufferFill -= 2 * n; }

// Copies n characters and writes a zero character after them. The source is
// never read past its n-th character, even for an odd n.
void StrCopyChars(char16_t* destination, const char16_t* source, int32_t n) {
  if (n > 0) std::memmove(destination, source, size_t(n) * sizeof(char16_t));
  destination[n > 0 ? n : 0] = 0;
}

// Appends a string (null appends nothing) and leaves a zero character at the fill position.
void StrAppend(const char16_t* text) {
  if (!text) {
    EnsureTerminatorRoom();
    *At(StringBufferFill) = 0;
    return;
  }
  int32_t n = WideLength(text);
  // A string inside the buffer itself would be left behind if the storage moves.
  const char* base = reinterpret_cast<const char*>(StringBufferBase);
  const char* p = reinterpret_cast<const char*>(text);
  bool inside = p >= base && p < base + StringBufferCapacity + 10;
  int64_t offset = p - base;
  char16_t* destination = StrReserve(n, StringBufferFill);
  if (inside) text = reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(StringBufferBase) + offset);
  StrCopyChars(destination, text, n);
}

// Copies the buffer text from start to the fill position into the variable
// (resized in place) and sets the fill position back to start.
void StrAssign(StringVariable* variable, int32_t start) {
  int32_t bytes = StringBufferFill - start;
  if (bytes < 0) bytes = 0;
  *variable = VariableBlock(*variable, int64_t(bytes) + 10);
  StrCopyChars(*variable, At(start), bytes / 2);
  StringBufferFill = start;
}

// Gives a fresh variable its own copy, without looking at what it held; null keeps it.
void StrInit(StringVariable* variable, const char16_t* text) {
  if (!text) return;
  int32_t n = WideLength(text);
  *variable = VariableBlock(nullptr, int64_t(n) * 2 + 10);
  StrCopyChars(*variable, text, n);
}

// Copies a string into the variable, or empties it (null) for a null string.
void StrSet(StringVariable* variable, const char16_t* text) {
  if (!text) {
    StrFree(*variable);
    *variable = nullptr;
    return;
  }
  int32_t n = WideLength(text);
  // The text may be the variable's own block, which the resize can move.
  bool own = text == *variable;
  *variable = VariableBlock(*variable, int64_t(n) * 2 + 10);
  if (own) return;
  StrCopyChars(*variable, text, n);
}

void StrFree(char16_t* block) {
  if (block) HeapFree(StringHeap, HEAP_NO_SERIALIZE, block);
}

// 1 when both strings hold the same characters (null is the empty string), else 0.
int32_t StrCompare(const char16_t* a, const char16_t* b) {
  if (!a) a = u"";
  if (!b) b = u"";
  while (*a && *a == *b) {
    a++;
    b++;
  }
  return *a == *b ? 1 : 0;
}

// Appends the decimal form of value at position (the fill position).
void StrFromInt(int32_t value, int32_t position) {
  char16_t* out = StrReserve(32, position);
  int32_t written = 0;
  if (value == 0) {
    out[written++] = u'0';
  } else {
    uint32_t magnitude = uint32_t(value);
    if (value < 0) {
      out[written++] = u'-';
      magnitude = 0u - magnitude;  // -2147483648 has no positive int32 form
    }
    char16_t digits[10];
    int32_t count = 0;
    while (magnitude) {
      digits[count++] = char16_t(u'0' + magnitude % 10);
      magnitude /= 10;
    }
    while (count) out[written++] = digits[--count];
  }
  out[written] = 0;
  StrGiveBack(32 - written);
}

// The decimal value of the leading digits after spaces, tabs and a sign; 0 without digits.
int32_t IntFromStr(const char16_t* text) {
  if (!text) return 0;
  while (*text == u' ' || *text == u'\t') text++;
  bool negative = false;
  if (*text == u'-') {
    negative = true;
    text++;
  } else if (*text == u'+') {
    text++;
  }
  uint32_t value = 0;  // wraps modulo 2^32: no overflow test
  while (*text >= u'0' && *text <= u'9') value = value * 10u + uint32_t(*text++ - u'0');
  return int32_t(negative ? 0u - value : value);
}

// Appends a string of the system code page at position (the fill position).
void StrFromAnsi(const char* text, int32_t position) {
  int n = text ? MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0) : 0;
  if (n <= 0) {
    StrReserve(0, position);
    *At(position) = 0;
    return;
  }
  char16_t* out = StrReserve(n - 1, position);
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, n) != n) {
    StringBufferFill = position;
    *At(position) = 0;
  }
}

// Steps past the expression's zero character so it survives the call it is
// passed to; the address is taken only now because appending may have moved
// the storage.
char16_t* StrArgBegin(int32_t start) {
  StringBufferFill += 2;
  EnsureTerminatorRoom();
  return At(start);
}

void StrArgEnd(int32_t start) { StringBufferFill = start; }
