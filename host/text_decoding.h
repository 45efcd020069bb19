// Turning argument bytes into the UTF-16 text that Java strings hold.
#pragma once

#include <cstddef>
#include <string>

namespace quenlet {

// Appends one code point as UTF-16; anything that is not a Unicode scalar
// value becomes U+FFFD.
void AppendCodePoint(char32_t codePoint, std::u16string* text);

// Strict UTF-8: every byte that does not start a well-formed sequence (overlong
// forms, surrogates and values past U+10FFFF included) becomes U+FFFD.
std::u16string DecodeUtf8(const char* bytes, size_t length);

// Hands text to a caller's buffer with MultiByteToWideChar's conventions:
// with wideSize 0 the length needed; otherwise the characters written, or 0
// when they do not fit.
int CopyWideResult(const std::u16string& text, char16_t* wide, int wideSize);

}  // namespace quenlet
