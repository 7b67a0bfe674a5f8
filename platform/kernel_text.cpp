// UTF-8 <-> UTF-16 conversion for the kernel stand-ins and MultiByteToWideChar.
#include "platform/kernel_text.h"

#include <cstdint>
#include <cstring>

#include "platform/kernel.h"

size_t KernelUtf8ToUtf16(const unsigned char* s, size_t len, char16_t* out) {
  size_t n = 0;
  size_t i = 0;
  while (i < len) {
    unsigned b = s[i];
    if (b < 0x80) {
      if (out) out[n] = char16_t(b);
      n++;
      i++;
      continue;
    }
    // Lead byte: the number of continuation bytes and the allowed range of
    // the first one (which excludes overlong forms, surrogates and values
    // above U+10FFFF).
    int follow;
    unsigned lo = 0x80, hi = 0xBF;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
      follow = 1;
      cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      follow = 2;
      cp = b & 0x0F;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      follow = 3;
      cp = b & 0x07;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      if (out) out[n] = 0xFFFD;
      n++;
      i++;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < follow; k++, j++) {
      if (j >= len || s[j] < lo || s[j] > hi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
      lo = 0x80;
      hi = 0xBF;
    }
    if (!ok) {
      // The lead and the good continuations so far are one ill-formed subpart;
      // the offending byte starts over.
      if (out) out[n] = 0xFFFD;
      n++;
      i = j;
      continue;
    }
    i = j;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      if (out) {
        out[n] = char16_t(0xD800 + (cp >> 10));
        out[n + 1] = char16_t(0xDC00 + (cp & 0x3FF));
      }
      n += 2;
    } else {
      if (out) out[n] = char16_t(cp);
      n++;
    }
  }
  return n;
}

std::string KernelUtf16ToUtf8(const char16_t* text) {
  std::string out;
  if (!text) return out;
  for (size_t i = 0; text[i]; i++) {
    uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      i++;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::u16string KernelUtf8ToWide(const std::string& text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text.data());
  std::u16string out(KernelUtf8ToUtf16(s, text.size(), nullptr), u'\0');
  KernelUtf8ToUtf16(s, text.size(), out.data());
  return out;
}

// Converts from the system code page (UTF-8 here) or UTF-8. With no output
// room (wideChars 0) the result is the count needed; 0 on failure, also when
// the output is too small.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int bytes, LPWSTR wide, int wideChars) {
  (void)flags;
  if (codePage != CP_ACP && codePage != CP_UTF8) return 0;
  if (!text || bytes == 0 || bytes < -1 || wideChars < 0) return 0;
  size_t len = bytes == -1 ? std::strlen(text) + 1 : size_t(bytes);
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  size_t count = KernelUtf8ToUtf16(s, len, nullptr);
  if (count > 0x7FFFFFFF) return 0;
  if (wideChars == 0) return int(count);
  if (!wide || count > size_t(wideChars)) return 0;
  KernelUtf8ToUtf16(s, len, wide);
  return int(count);
}
