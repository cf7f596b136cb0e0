// Reading a text file that comes from outside: a regular file only (a FIFO, device or directory in its place
// never blocks or floods the reader), of bounded size, without NUL bytes, and only as many bytes as it has.
#pragma once

#include <cstddef>
#include <string>

namespace settings {

struct TextFileRead {
  enum class Status { Read, Missing, Failed };
  Status status = Status::Missing;
  std::string text;   // when Read
  std::string error;  // when Failed: why, without the path ("not a regular file", "larger than N bytes", ...)
};

TextFileRead readTextFile(const std::string& path, std::size_t maxBytes);

}  // namespace settings
