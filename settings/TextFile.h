// Reading a text file that comes from outside: a regular file only (a FIFO, device or directory in its place
// never blocks or floods the reader), of bounded size, without NUL bytes, and only as many bytes as it has.
// A file saved as UTF-16 with a byte order mark (what Windows editors call "Unicode") is read as its UTF-8
// text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace settings {

struct TextFileRead {
  enum class Status { Read, Missing, Failed };
  Status status = Status::Missing;
  std::string text;   // when Read
  std::string error;  // when Failed: why, without the path ("not a regular file", "larger than N bytes", ...)
};

TextFileRead readTextFile(const std::string& path, std::size_t maxBytes);
// The file `name` of the directory open as `dirFd` (never through a link at that name).
TextFileRead readTextFileAt(int dirFd, const std::string& name, std::size_t maxBytes);

// The UTF-8 text of `bytes` when they start with a UTF-16 byte order mark (little- or big-endian), without the
// mark; an unpaired surrogate or a last odd byte becomes U+FFFD. Nothing when there is no such mark.
std::optional<std::string> utf16ToUtf8(std::string_view bytes);

}  // namespace settings
