// Windows: the basic types are the real headers' own. The Parts write wide
// text as char16_t, the headers as wchar_t (16 bits here too): the bridges in
// the other headers of this folder take char16_t and hand the same code units
// on. Included first by every bridge header, so <windows.h> sees one set of
// options.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#define DIRECTINPUT_VERSION 0x0700

#include <windows.h>

// The headers' A/W switch macros that are names of the Parts' own.
#undef DrawState

#include <cstddef>
#include <cstdint>

// The same code units, seen as the headers' wide characters.
inline const wchar_t* WinWide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* WinWide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }
