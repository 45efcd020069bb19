// The Java application's arguments, split from the command-line tail by the
// launcher's own quoting rules (white space separates, double quotes group,
// no escape character), and handed on as a count and an array of C strings.
#pragma once

#include <string>
#include <vector>

namespace quenlet {

class ArgumentList {
 public:
  // Splits a command-line tail (never null, possibly empty).
  explicit ArgumentList(const char* tail);
  // Takes arguments that the platform's start-up has already split (POSIX argv).
  ArgumentList(int count, const char* const* arguments);

  int Count() const { return static_cast<int>(arguments_.size()); }
  // A new array of Count() separately allocated, zero-terminated copies, with
  // no terminating null entry; a valid array of zero entries for an empty
  // list. The caller owns the array and the strings (new[]).
  char** ToCStringArray() const;
  const std::vector<std::string>& Arguments() const { return arguments_; }

 private:
  std::vector<std::string> arguments_;
};

}  // namespace quenlet
