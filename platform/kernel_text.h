// Text helpers shared by the kernel stand-ins: UTF-8 to UTF-16 and back, with
// every malformed sequence turned into U+FFFD. Internal to platform/kernel_*.
#pragma once

#include <cstddef>
#include <string>

// Converts len bytes of UTF-8; writes to out when it is not null. Returns the
// number of UTF-16 units. A malformed sequence (bad lead, missing or wrong
// continuation, overlong form, surrogate, above U+10FFFF) becomes one U+FFFD
// per maximal ill-formed subpart.
size_t KernelUtf8ToUtf16(const unsigned char* text, size_t len, char16_t* out);
// A zero-terminated wide string as UTF-8 (unpaired surrogates become U+FFFD).
std::string KernelUtf16ToUtf8(const char16_t* text);
// A UTF-8 string as UTF-16.
std::u16string KernelUtf8ToWide(const std::string& text);
