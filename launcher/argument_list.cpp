#include "launcher/argument_list.h"

#include <cstring>
#include <new>

namespace quenlet {
namespace {

bool IsWhiteSpace(unsigned char byte) { return byte == ' ' || (byte >= 0x09 && byte <= 0x0D); }

}  // namespace

// Three states, held as two flags: between arguments (neither), in a bare
// argument, in a quoted argument (both). A quote opens quoting, or closes it
// and ends the argument even when it is empty; white space ends a bare
// argument and is kept inside quotes; there is no escape character.
ArgumentList::ArgumentList(const char* tail) {
  if (tail == nullptr) return;
  std::string pending;
  bool inArgument = false;
  bool quoted = false;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(tail); *p != 0; ++p) {
    if (*p == '"') {
      if (quoted) {
        arguments_.push_back(pending);
        pending.clear();
        inArgument = quoted = false;
      } else {
        inArgument = quoted = true;
      }
    } else if (IsWhiteSpace(*p) && !quoted) {
      if (inArgument) {
        arguments_.push_back(pending);
        pending.clear();
        inArgument = false;
      }
    } else {
      pending += static_cast<char>(*p);
      inArgument = true;
    }
  }
  // An unclosed quote keeps its text; a quote followed by nothing adds nothing.
  if (!pending.empty()) arguments_.push_back(pending);
}

ArgumentList::ArgumentList(int count, const char* const* arguments) {
  if (arguments == nullptr) return;
  for (int i = 0; i < count; ++i) arguments_.push_back(arguments[i] != nullptr ? arguments[i] : "");
}

char** ArgumentList::ToCStringArray() const {
  char** array = new (std::nothrow) char*[arguments_.size()];
  if (array == nullptr) return nullptr;
  for (size_t i = 0; i < arguments_.size(); ++i) {
    array[i] = new (std::nothrow) char[arguments_[i].size() + 1];
    if (array[i] == nullptr) {
      while (i > 0) delete[] array[--i];
      delete[] array;
      return nullptr;
    }
    std::memcpy(array[i], arguments_[i].c_str(), arguments_[i].size() + 1);
  }
  return array;
}

}  // namespace quenlet
