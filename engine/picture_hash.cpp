// The difference hash of a picture; see picture.h.
//
// Each decoder gives grey levels at the smallest size that still leaves every cell of the 9x8
// grid many pixels. libjpeg-turbo decodes a JPEG at 1/2, 1/4 or 1/8 of its size (at 1/8 each
// block gives just its average), and turns CMYK to grey here; libwebp scales a WebP while it
// decodes, straight to the grid. PNG (libpng), GIF (giflib) and BMP (read here) cannot be
// decoded smaller and are decoded at full size.
//
// Grey is the same weighting of gamma-encoded red, green and blue everywhere (libjpeg's, in 8
// bits of fraction), so that a picture hashes alike in every format. Transparent pixels are
// white, as on a plain page, but in WebP and BMP, whose colours are taken as they are stored.
//
// Every decoder refuses a picture over kMaxPicturePixels by its own reading of the header,
// which is the size it allocates for, and a body cut short (but a JPEG, which reads as grey to
// its end). Each one keeps its state per call, so downloads on several threads may hash at once.
#include "engine/picture.h"

#include <gif_lib.h>
#include <png.h>
#include <webp/decode.h>

#include <algorithm>
#include <array>
#include <bit>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The grey level of a colour in 8 bits of fraction: 0.299, 0.587 and 0.114 as libjpeg has them.
constexpr std::uint32_t GreyTimes256(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return red * 77 + green * 150 + blue * 29;
}
constexpr unsigned char Grey(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
  return static_cast<unsigned char>(GreyTimes256(red, green, blue) >> 8);
}

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

// libjpeg gives a CMYK or YCCK picture as CMYK. Adobe's programs, which write the marker, store
// the inks inverted (0 is full ink), so a stored level times the stored black is the light left.
void CmykToGrey(const unsigned char* cmyk, std::size_t width, bool inverted, unsigned char* grey) {
  for (std::size_t x = 0; x < width; ++x, cmyk += 4) {
    std::uint32_t light[3];
    const std::uint32_t black = inverted ? cmyk[3] : 255 - cmyk[3];
    for (int i = 0; i < 3; ++i) light[i] = (inverted ? cmyk[i] : 255 - cmyk[i]) * black / 255;
    grey[x] = Grey(light[0], light[1], light[2]);
  }
}

bool DecodeJpegGrey(jpeg_decompress_struct* info, JpegErrors* errors, const unsigned char* data,
                    std::size_t size, std::vector<unsigned char>* grey,
                    std::vector<unsigned char>* cmykLine) {
  if (setjmp(errors->start) != 0) return false;
  jpeg_create_decompress(info);
  jpeg_mem_src(info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
  if (TooLarge(info->image_width, info->image_height)) return false;
  const bool cmyk = info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK;
  unsigned denominator = 8;
  while (denominator > 1 && (info->image_width / denominator < kGridColumns * kCellPixels ||
                             info->image_height / denominator < kGridRows * kCellPixels))
    denominator /= 2;
  info->scale_num = 1;
  info->scale_denom = denominator;
  info->out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  jpeg_start_decompress(info);
  const std::size_t width = info->output_width;
  grey->resize(width * info->output_height);
  if (cmyk) cmykLine->resize(width * 4);
  // A body cut short reads as grey to the end, with a warning.
  while (info->output_scanline < info->output_height) {
    unsigned char* out = grey->data() + info->output_scanline * width;
    JSAMPROW line = cmyk ? cmykLine->data() : out;
    jpeg_read_scanlines(info, &line, 1);
    if (cmyk) CmykToGrey(line, width, info->saw_Adobe_marker, out);
  }
  return true;
}

bool JpegGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpToStart;
  errors.manager.output_message = KeepQuiet;
  std::vector<unsigned char> grey, cmykLine;
  const bool decoded = DecodeJpegGrey(&info, &errors, data, size, &grey, &cmykLine);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  jpeg_destroy_decompress(&info);
  if (!decoded) return false;
  *grid = AverageCells(grey.data(), width, height);
  return true;
}

// libpng's simplified reader, which keeps its failures in the png_image rather than printing
// them. A colour picture is read as RGB and made grey here, a grey one straight to grey.
bool PngGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  const auto release = [](png_image* opened) { png_image_free(opened); };
  const std::unique_ptr<png_image, decltype(release)> opened(&image, release);
  if (!png_image_begin_read_from_memory(&image, data, size) || TooLarge(image.width, image.height))
    return false;
  // 16-bit levels with no gamma stated are taken as gamma-encoded like 8-bit ones, not linear.
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  const bool colour = (image.format & PNG_FORMAT_FLAG_COLOR) != 0;
  image.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  const std::size_t width = image.width, height = image.height;
  const int channels = colour ? 3 : 1;
  std::vector<unsigned char> pixels(width * height * channels);
  const png_color white = {255, 255, 255};
  if (!png_image_finish_read(&image, &white, pixels.data(),
                             static_cast<png_int_32>(width * channels), nullptr))
    return false;
  if (colour) {
    for (std::size_t i = 0; i < width * height; ++i)
      pixels[i] = Grey(pixels[i * 3], pixels[i * 3 + 1], pixels[i * 3 + 2]);
  }
  *grid = AverageCells(pixels.data(), static_cast<int>(width), static_cast<int>(height));
  return true;
}

struct GifInput {
  const unsigned char* data;
  std::size_t size;
  std::size_t at = 0;
};

// Fewer bytes than asked for at the end of the body, which giflib takes for a failure.
int ReadGifInput(GifFileType* gif, GifByteType* out, int length) {
  auto* input = static_cast<GifInput*>(gif->UserData);
  const std::size_t count =
      std::min(static_cast<std::size_t>(std::max(length, 0)), input->size - input->at);
  std::memcpy(out, input->data + input->at, count);
  input->at += count;
  return static_cast<int>(count);
}

struct CloseGif {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// The first frame on the logical screen, read a record at a time so that the frames after it are
// never decoded; the screen outside the frame is white. Of the extensions before the frame only
// the graphic control one counts, for its transparent colour.
bool GifGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  GifInput input{data, size};
  int error = 0;
  const std::unique_ptr<GifFileType, CloseGif> gif(DGifOpen(&input, ReadGifInput, &error));
  if (!gif || TooLarge(gif->SWidth, gif->SHeight)) return false;
  int transparent = -1;
  for (GifRecordType record = UNDEFINED_RECORD_TYPE; record != IMAGE_DESC_RECORD_TYPE;) {
    if (DGifGetRecordType(gif.get(), &record) == GIF_ERROR) return false;
    if (record == TERMINATE_RECORD_TYPE) return false;  // no frame at all
    if (record != EXTENSION_RECORD_TYPE) continue;
    int code = 0;
    GifByteType* block = nullptr;  // its length, then its bytes
    if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return false;
    // Flags (bit 0: a transparent colour), a delay of 2 bytes, the transparent colour.
    if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
      transparent = (block[1] & 1) ? block[4] : -1;
    while (block != nullptr)
      if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return false;
  }
  if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return false;
  const GifImageDesc& frame = gif->Image;
  const ColorMapObject* colours = frame.ColorMap != nullptr ? frame.ColorMap : gif->SColorMap;
  if (colours == nullptr || TooLarge(frame.Width, frame.Height)) return false;
  // A colour past the table is black.
  std::array<unsigned char, 256> greys{};
  for (int i = 0; i < std::min(colours->ColorCount, 256); ++i)
    greys[i] = Grey(colours->Colors[i].Red, colours->Colors[i].Green, colours->Colors[i].Blue);
  if (transparent >= 0) greys[transparent] = 255;

  const int width = gif->SWidth, height = gif->SHeight;
  std::vector<unsigned char> grey(static_cast<std::size_t>(width) * height, 255);
  std::vector<GifPixelType> line(frame.Width);
  // The part of each frame line on the screen.
  const int left = std::min(frame.Left, width);
  const int shown = std::min(frame.Width, width - left);
  // An interlaced frame stores every 8th line from 0, every 8th from 4, every 4th from 2, then
  // every 2nd from 1.
  constexpr int kPassStart[] = {0, 4, 2, 1};
  constexpr int kPassStep[] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int step = frame.Interlace ? kPassStep[pass] : 1;
    for (int row = frame.Interlace ? kPassStart[pass] : 0; row < frame.Height; row += step) {
      if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return false;
      const int y = frame.Top + row;
      if (y >= height) continue;
      unsigned char* out = grey.data() + static_cast<std::size_t>(y) * width + left;
      for (int x = 0; x < shown; ++x) out[x] = greys[line[x]];
    }
  }
  *grid = AverageCells(grey.data(), width, height);
  return true;
}

std::uint32_t Little16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Little32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

// One channel of a 16- or 32-bit BMP pixel: the bits of its mask, scaled to 0..255.
struct BmpChannel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t largest = 1;

  explicit BmpChannel(std::uint32_t bits)
      : mask(bits), shift(std::countr_zero(bits)), largest(bits >> std::countr_zero(bits)) {}
  std::uint32_t Level(std::uint32_t pixel) const {
    return static_cast<std::uint32_t>(std::uint64_t{(pixel & mask) >> shift} * 255 / largest);
  }
};

// Uncompressed BMPs of 1, 4, 8 (through their colour table), 16, 24 or 32 bits a pixel, the
// last two also with the masks of their channels (bitfields); the alpha of a 32-bit pixel is
// not read, as writers leave it at 0 as often as not. Run-length and embedded JPEG or PNG
// compression are refused, as is every row that does not lie wholly in the body.
bool BmpGrid(const unsigned char* data, std::size_t size, Grid* grid) {
  // The file header ends with where the pixels are; the information header starts with its
  // own length.
  if (size < 26) return false;
  const std::uint64_t pixelsAt = Little32(data + 10);
  const std::uint32_t infoLength = Little32(data + 14);
  std::int64_t width = 0, height = 0;
  std::uint32_t bits = 0, compression = 0, tableLength = 0;
  std::size_t tableEntry = 4;
  bool topDown = false;
  if (infoLength == 12) {  // OS/2 1.x: unsigned 16-bit sizes, 3-byte colours
    width = Little16(data + 18);
    height = Little16(data + 20);
    bits = Little16(data + 24);
    tableEntry = 3;
  } else {
    if (size < 14 + 40) return false;
    width = static_cast<std::int32_t>(Little32(data + 18));
    height = static_cast<std::int32_t>(Little32(data + 22));
    topDown = height < 0;
    height = topDown ? -height : height;
    bits = Little16(data + 28);
    compression = Little32(data + 30);
    tableLength = Little32(data + 46);
  }
  if (TooLarge(width, height)) return false;
  constexpr std::uint32_t kUncompressed = 0, kBitfields = 3;
  // The masks follow the 40 bytes of the oldest header with bitfields and are the first fields
  // after them in the longer ones. OS/2 2.x's header of 64 bytes numbers its compressions
  // otherwise.
  const bool masked = compression == kBitfields && infoLength != 64 && infoLength != 12;
  if (compression != kUncompressed && !(masked && (bits == 16 || bits == 32))) return false;

  std::array<unsigned char, 256> greys{};  // a colour past the table is black
  std::array<BmpChannel, 3> channels = {BmpChannel(0x7C00), BmpChannel(0x3E0), BmpChannel(0x1F)};
  switch (bits) {
    case 1:
    case 4:
    case 8: {
      const std::uint32_t most = 1u << bits;
      const std::uint32_t count = tableLength == 0 ? most : std::min(tableLength, most);
      const std::uint64_t tableAt = 14 + std::uint64_t{infoLength};
      if (tableAt + count * tableEntry > size) return false;
      for (std::uint32_t i = 0; i < count; ++i) {
        const unsigned char* bgr = data + tableAt + i * tableEntry;
        greys[i] = Grey(bgr[2], bgr[1], bgr[0]);
      }
      break;
    }
    case 16:
    case 24: break;
    case 32: channels = {BmpChannel(0xFF0000), BmpChannel(0xFF00), BmpChannel(0xFF)}; break;
    default: return false;
  }
  if (masked) {
    if (size < 14 + 40 + 12) return false;
    for (int i = 0; i < 3; ++i) {
      const std::uint32_t mask = Little32(data + 14 + 40 + 4 * i);
      if (mask == 0) return false;
      channels[i] = BmpChannel(mask);
    }
  }

  // Rows are padded to 4 bytes; the last need not be.
  const std::uint64_t rowBytes = (width * bits + 7) / 8;
  const std::uint64_t stride = (width * bits + 31) / 32 * 4;
  if (pixelsAt + stride * (height - 1) + rowBytes > size) return false;
  std::vector<unsigned char> grey(static_cast<std::size_t>(width * height));
  for (std::int64_t row = 0; row < height; ++row) {
    const unsigned char* in = data + pixelsAt + row * stride;
    unsigned char* out = grey.data() + (topDown ? row : height - 1 - row) * width;
    for (std::int64_t x = 0; x < width; ++x) {
      switch (bits) {
        case 1: out[x] = greys[(in[x / 8] >> (7 - x % 8)) & 1]; break;
        case 4: out[x] = greys[(in[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0xF]; break;
        case 8: out[x] = greys[in[x]]; break;
        case 24: out[x] = Grey(in[x * 3 + 2], in[x * 3 + 1], in[x * 3]); break;
        default: {
          const std::uint32_t pixel = bits == 16 ? Little16(in + x * 2) : Little32(in + x * 4);
          out[x] =
              Grey(channels[0].Level(pixel), channels[1].Level(pixel), channels[2].Level(pixel));
        }
      }
    }
  }
  *grid = AverageCells(grey.data(), static_cast<int>(width), static_cast<int>(height));
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
  for (std::size_t i = 0; i < grid->size(); ++i) {
    const unsigned char* pixel = &rgb[i * 3];
    (*grid)[i] = GreyTimes256(pixel[0], pixel[1], pixel[2]);
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
    case PictureFormat::Png: decoded = PngGrid(data, size, &grid); break;
    case PictureFormat::Gif: decoded = GifGrid(data, size, &grid); break;
    case PictureFormat::Bmp: decoded = BmpGrid(data, size, &grid); break;
    case PictureFormat::Webp: decoded = WebpGrid(data, size, &grid); break;
    case PictureFormat::Unknown: break;
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
