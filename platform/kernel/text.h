// Conversion between the device's 8-bit code page (Windows-1252), UTF-8 and UTF-16,
// through the system functions MultiByteToWideChar and WideCharToMultiByte.
#pragma once

#include "platform/kernel/types.h"

// Code pages. The device has one 8-bit code page: the ANSI, OEM and thread code
// pages all name Windows-1252.
constexpr UINT CP_ACP = 0;
constexpr UINT CP_OEMCP = 1;
constexpr UINT CP_THREAD_ACP = 3;
constexpr UINT CP_WINDOWS_1252 = 1252;
constexpr UINT CP_UTF8 = 65001;

// Flags of MultiByteToWideChar.
constexpr DWORD MB_PRECOMPOSED = 0x1;
constexpr DWORD MB_COMPOSITE = 0x2;         // accented letters become letter + combining mark
constexpr DWORD MB_USEGLYPHCHARS = 0x4;     // no effect: Windows-1252 has no glyph forms
constexpr DWORD MB_ERR_INVALID_CHARS = 0x8;

// Flags of WideCharToMultiByte.
constexpr DWORD WC_DISCARDNS = 0x10;
constexpr DWORD WC_SEPCHARS = 0x20;
constexpr DWORD WC_DEFAULTCHAR = 0x40;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;


// Converts source_bytes bytes of 8-bit text (-1: up to and including its null) to UTF-16.
// Returns the UTF-16 units written, or with target_chars 0 the units needed. Returns 0
// with ERROR_INSUFFICIENT_BUFFER when target is too small, ERROR_INVALID_PARAMETER for a
// bad code page or argument, ERROR_INVALID_FLAGS for flags the code page does not take,
// and ERROR_NO_UNICODE_TRANSLATION for bad UTF-8 under MB_ERR_INVALID_CHARS (bad UTF-8
// otherwise becomes U+FFFD).
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* source, int source_bytes, WCHAR* target,
                        int target_chars);

// Converts source_chars UTF-16 units (-1: up to and including the null) to 8-bit text.
// Returns the bytes written, or with target_bytes 0 the bytes needed; errors as above.
// A character Windows-1252 lacks becomes default_char (null: '?') and sets *used_default;
// there is no best-fit mapping. With WC_COMPOSITECHECK a letter followed by a combining
// mark becomes the accented letter when the code page has it; otherwise the mark is
// dropped (WC_DISCARDNS), the pair becomes the default character (WC_DEFAULTCHAR), or the
// mark is converted on its own (WC_SEPCHARS, the default). For UTF-8, default_char and
// used_default must be null; unpaired surrogates become U+FFFD.
int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* source, int source_chars, char* target,
                        int target_bytes, const char* default_char, BOOL* used_default);
