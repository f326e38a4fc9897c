// The difference hash of a picture; see picture.h.
//
// Each decoder gives grey levels at the smallest size that still leaves every cell of the 9x8
// grid many pixels. libjpeg-turbo decodes a JPEG at 1/2, 1/4 or 1/8 of its size (at 1/8 each
// block gives just its average), five times faster than stb_image on a grainy 12-megapixel
// photograph, mostly for its faster entropy decoding; the scaling spares the memory and time of
// the full-size picture. libwebp scales a WebP while it decodes, straight to the grid. PNG, GIF
// and BMP cannot be decoded smaller and go to stb_image at full size, as do CMYK JPEGs, which
// libjpeg does not turn to grey.
//
// Every decoder refuses a picture over kMaxPicturePixels by its own reading of the header,
// which is the size it allocates for. Each one keeps its state per call (stb_image its failure
// text in a thread-local), so downloads on several threads may hash at once.
#include "engine/picture.h"

#include <stb_image.h>
#include <webp/decode.h>

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jpeglib.h>

namespace quarry {
namespace {

constexpr int kGridColumns = 9;
constexpr int kGridRows = 8;
// Mean grey level of each cell, row by row, times 256 so that close cells still compare.
using Grid = std::array<std::uint32_t, kGridColumns * kGridRows>;

// A scaled decode stops halving while each cell would still be this many pixels a side.
constexpr int kCellPixels = 8;

// The cells of a grid over `length` pixels: cell i covers [i*length/cells, (i+1)*length/cells),
// and at least one pixel when the picture is narrower than the grid.
template <int cells>
void CellBounds(int length, std::array<int, cells>* begin, std::array<int, cells>* end) {
  for (int i = 0; i < cells; ++i) {
    (*begin)[i] = static_cast<int>(std::int64_t{i} * length / cells);
    (*end)[i] = std::max((*begin)[i] + 1, static_cast<int>(std::int64_t{i + 1} * length / cells));
  }
}

Grid AverageCells(const unsigned char* grey, int width, int height) {
  std::array<int, kGridColumns> columnBegin{}, columnEnd{};
  std::array<int, kGridRows> rowBegin{}, rowEnd{};
  CellBounds<kGridColumns>(width, &columnBegin, &columnEnd);
  CellBounds<kGridRows>(height, &rowBegin, &rowEnd);
  Grid grid{};
  for (int row = 0; row < kGridRows; ++row) {
    std::array<std::uint64_t, kGridColumns> sums{};
    for (int y = rowBegin[row]; y < rowEnd[row]; ++y) {
      const unsigned char* line = grey + static_cast<std::size_t>(y) * width;
      for (int column = 0; column < kGridColumns; ++column) {
        // A cell's part of a line is at most kMaxPicturePixels / 9 + 1 bytes: 32 bits hold its sum.
        std::uint32_t sum = 0;
        for (int x = columnBegin[column]; x < columnEnd[column]; ++x) sum += line[x];
        sums[column] += sum;
      }
    }
    const std::uint64_t rows = rowEnd[row] - rowBegin[row];
    for (int column = 0; column < kGridColumns; ++column) {
      const std::uint64_t count = rows * (columnEnd[column] - columnBegin[column]);
      grid[row * kGridColumns + column] = static_cast<std::uint32_t>(sums[column] * 256 / count);
    }
  }
  return grid;
}

bool TooLarge(std::int64_t width, std::int64_t height) {
  return width <= 0 || height <= 0 || width * height > kMaxPicturePixels;
}

bool StbGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  if (size > INT_MAX) return false;
  const int length = static_cast<int>(size);
  int width = 0, height = 0, channels = 0;
  // Its reading of a top-down BMP keeps the height negative.
  if (!stbi_info_from_memory(data, length, &width, &height, &channels) ||
      TooLarge(width, std::abs(std::int64_t{height})))
    return false;
  std::unique_ptr<unsigned char, void (*)(void*)> grey(
      stbi_load_from_memory(data, length, &width, &height, &channels, 1), stbi_image_free);
  if (!grey || TooLarge(width, height)) return false;
  *grid = AverageCells(grey.get(), width, height);
  return true;
}

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to the
// start of DecodeJpegGrey, whose locals have no destructors; the decoder's state and the
// pixels live in the caller's frame.
struct JpegErrors {
  jpeg_error_mgr manager;  // first, so that libjpeg's pointer to it points to the whole
  std::jmp_buf start;
};

[[noreturn]] void JumpToStart(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->start, 1);
}
void KeepQuiet(j_common_ptr) {}  // warnings about damaged data reach no terminal

enum class JpegDecode { Done, Failed, NotToGrey };

JpegDecode DecodeJpegGrey(jpeg_decompress_struct* info, JpegErrors* errors,
                          const unsigned char* data, std::size_t size,
                          std::vector<unsigned char>* grey) {
  if (setjmp(errors->start) != 0) return JpegDecode::Failed;
  jpeg_create_decompress(info);
  jpeg_mem_src(info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return JpegDecode::Failed;
  if (TooLarge(info->image_width, info->image_height)) return JpegDecode::Failed;
  if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK)
    return JpegDecode::NotToGrey;
  unsigned denominator = 8;
  while (denominator > 1 && (info->image_width / denominator < kGridColumns * kCellPixels ||
                             info->image_height / denominator < kGridRows * kCellPixels))
    denominator /= 2;
  info->scale_num = 1;
  info->scale_denom = denominator;
  info->out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(info);
  const std::size_t width = info->output_width;
  grey->resize(width * info->output_height);
  // A body cut short reads as grey to the end, with a warning.
  while (info->output_scanline < info->output_height) {
    JSAMPROW line = grey->data() + info->output_scanline * width;
    jpeg_read_scanlines(info, &line, 1);
  }
  return JpegDecode::Done;
}

bool JpegGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpToStart;
  errors.manager.output_message = KeepQuiet;
  std::vector<unsigned char> grey;
  const JpegDecode decode = DecodeJpegGrey(&info, &errors, data, size, &grey);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  jpeg_destroy_decompress(&info);
  if (decode == JpegDecode::NotToGrey) return StbGrid(data, size, grid);
  if (decode != JpegDecode::Done) return false;
  *grid = AverageCells(grey.data(), width, height);
  return true;
}

// Scaled to the grid by libwebp, which averages the pixels of each cell. Animations are refused
// by the decoder.
bool WebpGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return false;
  if (WebPGetFeatures(data, size, &config.input) != VP8_STATUS_OK ||
      TooLarge(config.input.width, config.input.height))
    return false;
  config.options.use_scaling = 1;
  config.options.scaled_width = kGridColumns;
  config.options.scaled_height = kGridRows;
  std::array<unsigned char, kGridColumns * kGridRows * 3> rgb;
  config.output.colorspace = MODE_RGB;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = rgb.data();
  config.output.u.RGBA.stride = kGridColumns * 3;
  config.output.u.RGBA.size = rgb.size();
  const bool decoded = WebPDecode(data, size, &config) == VP8_STATUS_OK;
  WebPFreeDecBuffer(&config.output);
  if (!decoded) return false;
  // Grey as stb_image makes it from RGB, kept with the same 8 bits of fraction.
  for (std::size_t i = 0; i < grid->size(); ++i) {
    const unsigned char* pixel = &rgb[i * 3];
    (*grid)[i] = pixel[0] * 77 + pixel[1] * 150 + pixel[2] * 29;
  }
  return true;
}

}  // namespace

bool PictureDifferenceHash(const unsigned char* data, std::size_t size, std::uint64_t* hash) {
  PictureHeader header;
  if (ReadPictureHeader(data, size, &header) != HeaderState::Known ||
      TooLarge(header.width, header.height))
    return false;
  Grid grid;
  bool decoded = false;
  switch (header.format) {
    case PictureFormat::Jpeg: decoded = JpegGrid(data, size, &grid); break;
    case PictureFormat::Webp: decoded = WebpGrid(data, size, &grid); break;
    default: decoded = StbGrid(data, size, &grid); break;
  }
  if (!decoded) return false;
  std::uint64_t bits = 0;
  for (int row = 0; row < kGridRows; ++row)
    for (int column = 0; column + 1 < kGridColumns; ++column)
      bits = (bits << 1) |
             (grid[row * kGridColumns + column] > grid[row * kGridColumns + column + 1] ? 1 : 0);
  *hash = bits;
  return true;
}

int HashDistance(std::uint64_t a, std::uint64_t b) { return std::popcount(a ^ b); }

}  // namespace quarry
