// PNG files through libpng.
#include "PngFile.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// A unique temporary beside `path` (mkstemp: created exclusively, never through a link), to be renamed over it.
std::FILE* openTemporaryBeside(const std::string& path, std::string& temporary) {
  const std::size_t slash = path.find_last_of('/');
  temporary = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.png-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    return nullptr;
  }
  // Pictures are for anyone who may read the folder, as a file made by fopen would be.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, 0666 & ~mask);
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlink(temporary.c_str());
  }
  return file;
}

}  // namespace

std::optional<std::string> writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba) {
  if (width < 1 || height < 1 || rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
    return "picture size does not match its pixels";
  }
  std::string temporary;
  std::FILE* file = openTemporaryBeside(path, temporary);
  if (file == nullptr) {
    return path + ": " + std::strerror(errno);
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    ::unlink(temporary.c_str());
    return path + ": PNG encoding failed";
  }
  png_init_io(png, file);
  // Fast over small: the default level and adaptive filtering spent more time than drawing the gauge. The
  // pixels are the same whatever the setting.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0 || std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string error = path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
    return error;
  }
  return std::nullopt;
}

std::optional<PngImage> readPng(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
    return std::nullopt;
  }
  image.format = PNG_FORMAT_RGBA;
  PngImage result;
  result.width = static_cast<int>(image.width);
  result.height = static_cast<int>(image.height);
  result.rgba.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, result.rgba.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return std::nullopt;
  }
  return result;
}
