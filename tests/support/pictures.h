// Pictures made at test time: a smooth scene drawn at any size, and its JPEG, PNG and BMP files
// written by stb_image_write. Programs that include this link PkgConfig::Stb.
#pragma once

#include <stb_image_write.h>

#include <cmath>
#include <vector>

namespace quarry::testing {

using Bytes = std::vector<unsigned char>;

struct Rgb {
  int width = 0;
  int height = 0;
  Bytes pixels;  // 3 bytes a pixel, rows top down
};

// Three waves across the picture, drawn from coordinates relative to its size, so that the
// scene is the same at every size; scenes of different `kind` share nothing.
inline Rgb DrawScene(int kind, int width, int height) {
  constexpr double kTurn = 6.283185307179586;
  Rgb picture{width, height, Bytes(static_cast<std::size_t>(width) * height * 3)};
  const double k = kind * 1.7;
  unsigned char* pixel = picture.pixels.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double u = (x + 0.5) / width;
      const double v = (y + 0.5) / height;
      const double level = 0.5 + 0.25 * std::sin(kTurn * (1.3 * u + 0.4 * v) + k) +
                           0.15 * std::sin(kTurn * (0.7 * u - 1.9 * v) + 2 * k) +
                           0.1 * std::cos(kTurn * (2.6 * u + 1.1 * v) * (1 + kind % 2) + k);
      pixel[0] = static_cast<unsigned char>(255 * level);
      pixel[1] = static_cast<unsigned char>(255 * (0.1 + 0.8 * level));
      pixel[2] = static_cast<unsigned char>(255 * (1 - 0.5 * level));
      pixel += 3;
    }
  }
  return picture;
}

inline void AppendWritten(void* context, void* data, int size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes, bytes + size);
}

inline Bytes EncodeJpeg(const Rgb& picture, int quality) {
  Bytes file;
  stbi_write_jpg_to_func(AppendWritten, &file, picture.width, picture.height, 3,
                         picture.pixels.data(), quality);
  return file;
}

inline Bytes EncodePng(const Rgb& picture) {
  Bytes file;
  stbi_write_png_to_func(AppendWritten, &file, picture.width, picture.height, 3,
                         picture.pixels.data(), picture.width * 3);
  return file;
}

inline Bytes EncodeBmp(const Rgb& picture) {
  Bytes file;
  stbi_write_bmp_to_func(AppendWritten, &file, picture.width, picture.height, 3,
                         picture.pixels.data());
  return file;
}

}  // namespace quarry::testing
