// PNG files through libpng.
#include "PngFile.h"

#include "FileWrite.h"

#include <png.h>

Result<void> writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba) {
  if (width < 1 || height < 1 ||
      rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
    return Problem{"picture size does not match its pixels"};
  }
  // Encoded in memory, then written whole: a failed encoding leaves no file, and the file never goes through a
  // link at its name.
  std::string encoded;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return Problem{path + ": PNG encoding failed"};
  }
  const auto append = [](png_structp p, png_bytep data, png_size_t length) {
    static_cast<std::string*>(png_get_io_ptr(p))->append(reinterpret_cast<const char*>(data), length);
  };
  png_set_write_fn(png, &encoded, append, nullptr);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGBA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Fast over small: the default level and adaptive filtering spent more time than drawing the gauge. The
  // pixels are the same whatever the setting.
  png_set_compression_level(png, 1);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    png_write_row(png, rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return settings::replaceFile(path, encoded, settings::Durability::Cached);
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
