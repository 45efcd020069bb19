#include "host/text_decoding.h"

namespace quenlet {

void AppendCodePoint(char32_t codePoint, std::u16string* text) {
  if (codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) codePoint = 0xFFFD;
  if (codePoint < 0x10000) {
    text->push_back(static_cast<char16_t>(codePoint));
    return;
  }
  codePoint -= 0x10000;
  text->push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
  text->push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF)));
}

std::u16string DecodeUtf8(const char* bytes, size_t length) {
  const unsigned char* in = reinterpret_cast<const unsigned char*>(bytes);
  std::u16string text;
  size_t at = 0;
  while (at < length) {
    unsigned char lead = in[at];
    size_t extra = 0;
    char32_t value = 0;
    char32_t least = 0;
    if (lead < 0x80) {
      text.push_back(lead);
      ++at;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, value = lead & 0x1F, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, value = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, value = lead & 0x07, least = 0x10000;
    } else {
      text.push_back(0xFFFD);
      ++at;
      continue;
    }
    size_t taken = 1;
    while (taken <= extra && at + taken < length && (in[at + taken] & 0xC0) == 0x80) {
      value = (value << 6) | (in[at + taken] & 0x3F);
      ++taken;
    }
    if (taken != extra + 1 || value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      text.push_back(0xFFFD);
      ++at;  // resynchronise on the next byte
      continue;
    }
    AppendCodePoint(value, &text);
    at += taken;
  }
  return text;
}

int CopyWideResult(const std::u16string& text, char16_t* wide, int wideSize) {
  int needed = static_cast<int>(text.size());
  if (wideSize == 0) return needed;
  if (wideSize < needed || wide == nullptr) return 0;
  text.copy(wide, text.size());
  return needed;
}

}  // namespace quenlet
