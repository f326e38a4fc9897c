#include "engine/picture.h"

#include <gtest/gtest.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

// After <cstdio>: jpeglib.h uses FILE and size_t without declaring them.
#include <jpeglib.h>

#include "tests/support/pictures.h"

namespace quarry {
namespace {

using namespace std::string_literals;
using testing::Bytes;
using testing::DrawScene;
using testing::Rgb;

enum class WebpKind { Lossy, Lossless, WithAlpha };

// WithAlpha is written in the extended layout (VP8X, ALPH, VP8).
Bytes EncodeWebp(const Rgb& picture, WebpKind kind, float quality = 75) {
  std::uint8_t* out = nullptr;
  std::size_t size = 0;
  const int stride = picture.width * 3;
  if (kind == WebpKind::Lossy) {
    size =
        WebPEncodeRGB(picture.pixels.data(), picture.width, picture.height, stride, quality, &out);
  } else if (kind == WebpKind::Lossless) {
    size =
        WebPEncodeLosslessRGB(picture.pixels.data(), picture.width, picture.height, stride, &out);
  } else {
    Bytes rgba;
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3) {
      rgba.insert(rgba.end(), picture.pixels.begin() + i, picture.pixels.begin() + i + 3);
      rgba.push_back(200);
    }
    size = WebPEncodeRGBA(rgba.data(), picture.width, picture.height, picture.width * 4, quality,
                          &out);
  }
  Bytes file(out, out + size);
  WebPFree(out);
  return file;
}

// A CMYK JPEG as Adobe's programs write it, with the inks inverted: stored C, M, Y are the
// picture's R, G, B and stored K is 255.
Bytes EncodeCmykJpeg(const Rgb& picture) {
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &out, &size);
  info.image_width = picture.width;
  info.image_height = picture.height;
  info.input_components = 4;
  info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&info);
  jpeg_start_compress(&info, TRUE);
  Bytes line(picture.width * 4, 255);
  while (info.next_scanline < info.image_height) {
    const unsigned char* rgb = &picture.pixels[info.next_scanline * picture.width * 3];
    for (int x = 0; x < picture.width; ++x) std::copy(rgb + x * 3, rgb + x * 3 + 3, &line[x * 4]);
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes file(out, out + size);
  std::free(out);
  return file;
}

void Little16(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 2; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}
void Little32(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

unsigned char GreyOf(const unsigned char* rgb) {
  return static_cast<unsigned char>((rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29) >> 8);
}

struct GifLayout {
  int bits = 2;  // 2^bits greys, from black to white
  bool interlaced = false;
  int transparent = -1;  // a colour given in a graphic control extension
};

// A GIF of greys, uncompressed: a clear code before every pixel keeps each LZW code at bits + 1
// bits and the code table empty. `indexes` are in display order, rows top down, or none for a
// frame of no pixel data. `screen` is the logical screen, which may differ from the frame.
Bytes MakeGif(int width, int height, const Bytes& indexes, int screenWidth, int screenHeight,
              GifLayout layout = {}) {
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  Little16(&gif, screenWidth);
  Little16(&gif, screenHeight);
  gif.insert(gif.end(), {static_cast<unsigned char>(0x80 | (layout.bits - 1)), 0, 0});
  const int colours = 1 << layout.bits;
  for (int i = 0; i < colours; ++i)
    gif.insert(gif.end(), 3, static_cast<unsigned char>(i * 255 / (colours - 1)));
  if (layout.transparent >= 0)
    gif.insert(gif.end(),
               {0x21, 0xF9, 4, 1, 0, 0, static_cast<unsigned char>(layout.transparent), 0});
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0});
  Little16(&gif, width);
  Little16(&gif, height);
  gif.push_back(layout.interlaced ? 0x40 : 0);             // no local table
  gif.push_back(static_cast<unsigned char>(layout.bits));  // codes start at bits + 1 bits
  std::vector<int> rows;
  if (layout.interlaced) {
    constexpr int kPassStart[] = {0, 4, 2, 1};
    constexpr int kPassStep[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
      for (int row = kPassStart[pass]; row < height; row += kPassStep[pass]) rows.push_back(row);
  } else {
    for (int row = 0; row < height; ++row) rows.push_back(row);
  }
  const unsigned clear = 1u << layout.bits;
  Bytes packed;
  unsigned bits = 0, count = 0;
  auto put = [&](unsigned code) {
    bits |= code << count;
    for (count += layout.bits + 1; count >= 8; count -= 8, bits >>= 8)
      packed.push_back(static_cast<unsigned char>(bits & 0xFF));
  };
  for (int row : indexes.empty() ? std::vector<int>() : rows) {
    for (int x = 0; x < width; ++x) {
      put(clear);
      put(indexes[static_cast<std::size_t>(row) * width + x]);
    }
  }
  put(clear + 1);
  if (count > 0) packed.push_back(static_cast<unsigned char>(bits));
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    const std::size_t block = std::min<std::size_t>(255, packed.size() - at);
    gif.push_back(static_cast<unsigned char>(block));
    gif.insert(gif.end(), packed.begin() + at, packed.begin() + at + block);
  }
  gif.insert(gif.end(), {0, 0x3B});
  return gif;
}

// The picture's grey levels as indexes into 2^bits evenly spaced greys, with an ordered dither
// when there are fewer than 256.
Bytes GreyIndexes(const Rgb& picture, int bits) {
  static const int kThreshold[4][4] = {
      {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  const int most = (1 << bits) - 1;
  Bytes indexes;
  for (int y = 0; y < picture.height; ++y) {
    for (int x = 0; x < picture.width; ++x) {
      const int scaled = GreyOf(&picture.pixels[(y * picture.width + x) * 3]) * most * 16 / 255;
      const int index = scaled / 16 + (scaled % 16 > kThreshold[y % 4][x % 4] ? 1 : 0);
      indexes.push_back(static_cast<unsigned char>(std::min(index, most)));
    }
  }
  return indexes;
}

Bytes SceneGif(const Rgb& picture, GifLayout layout) {
  return MakeGif(picture.width, picture.height, GreyIndexes(picture, layout.bits), picture.width,
                 picture.height, layout);
}

// A PNG of grey (1 channel), colour (3) or colour and alpha (4, opaque but maybe on black).
Bytes EncodePngChannels(const Rgb& picture, int channels, bool clearBlack = false) {
  Bytes pixels;
  for (std::size_t i = 0; i < picture.pixels.size(); i += 3) {
    const unsigned char* rgb = &picture.pixels[i];
    if (channels == 1) pixels.push_back(GreyOf(rgb));
    if (channels >= 3) pixels.insert(pixels.end(), rgb, rgb + 3);
    if (channels == 4) pixels.push_back(clearBlack && rgb[0] + rgb[1] + rgb[2] == 0 ? 0 : 255);
  }
  Bytes file;
  stbi_write_png_to_func(testing::AppendWritten, &file, picture.width, picture.height, channels,
                         pixels.data(), picture.width * channels);
  return file;
}

struct BmpLayout {
  int bits = 24;
  bool bitfields = false;  // 16 bits as 5-6-5 (red highest), 32 as 10-10-10 (red lowest)
  bool topDown = false;
  std::uint32_t infoLength = 40;  // 12: OS/2 1.x
};

// A BMP of the picture: through 2^bits evenly spaced greys up to 8 bits a pixel, in colour above.
Bytes MakeBmp(const Rgb& picture, BmpLayout layout) {
  const bool os2 = layout.infoLength == 12;
  const std::uint32_t tableLength = layout.bits <= 8 ? 1u << layout.bits : 0;
  const std::uint32_t tableEntry = os2 ? 3 : 4;
  const std::uint32_t masksAfter = layout.bitfields && layout.infoLength == 40 ? 12 : 0;
  const std::uint32_t pixelsAt = 14 + layout.infoLength + masksAfter + tableLength * tableEntry;
  const std::uint32_t stride = (picture.width * layout.bits + 31) / 32 * 4;
  Bytes bmp = {'B', 'M'};
  Little32(&bmp, pixelsAt + stride * picture.height);
  Little32(&bmp, 0);
  Little32(&bmp, pixelsAt);
  Little32(&bmp, layout.infoLength);
  if (os2) {
    Little16(&bmp, picture.width);
    Little16(&bmp, picture.height);
    Little16(&bmp, 1);
    Little16(&bmp, layout.bits);
  } else {
    Little32(&bmp, picture.width);
    Little32(&bmp, layout.topDown ? -picture.height : picture.height);
    Little16(&bmp, 1);
    Little16(&bmp, layout.bits);
    Little32(&bmp, layout.bitfields ? 3 : 0);
    for (int i = 0; i < 5; ++i) Little32(&bmp, 0);  // pixel bytes, resolution, table lengths
    if (layout.bitfields) {
      for (std::uint32_t mask : layout.bits == 16
                                    ? std::array<std::uint32_t, 3>{0xF800, 0x7E0, 0x1F}
                                    : std::array<std::uint32_t, 3>{0x3FF, 0xFFC00, 0x3FF00000})
        Little32(&bmp, mask);
    }
    bmp.resize(14 + layout.infoLength + masksAfter, 0);
  }
  for (std::uint32_t i = 0; i < tableLength; ++i) {
    const auto level = static_cast<unsigned char>(i * 255 / (tableLength - 1));
    bmp.insert(bmp.end(), tableEntry, level);
    if (!os2) bmp.back() = 0;
  }
  const Bytes indexes = layout.bits <= 8 ? GreyIndexes(picture, layout.bits) : Bytes();
  for (int row = 0; row < picture.height; ++row) {
    const int y = layout.topDown ? row : picture.height - 1 - row;
    Bytes line(stride, 0);
    for (int x = 0; x < picture.width; ++x) {
      const unsigned char* rgb = &picture.pixels[(y * picture.width + x) * 3];
      const std::uint32_t index = layout.bits <= 8 ? indexes[y * picture.width + x] : 0;
      switch (layout.bits) {
        case 1:
        case 4:
          line[x * layout.bits / 8] |= index << (8 - layout.bits - x * layout.bits % 8);
          break;
        case 8: line[x] = static_cast<unsigned char>(index); break;
        case 16: {
          const std::uint32_t pixel = layout.bitfields
                                          ? (rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3
                                          : (rgb[0] >> 3) << 10 | (rgb[1] >> 3) << 5 | rgb[2] >> 3;
          line[x * 2] = static_cast<unsigned char>(pixel);
          line[x * 2 + 1] = static_cast<unsigned char>(pixel >> 8);
          break;
        }
        case 24:
          std::copy(rgb, rgb + 3, std::make_reverse_iterator(line.data() + x * 3 + 3));
          break;
        case 32: {
          const std::uint32_t pixel = layout.bitfields
                                          ? (rgb[2] * 4u) << 20 | (rgb[1] * 4u) << 10 | rgb[0] * 4u
                                          : std::uint32_t{rgb[0]} << 16 | rgb[1] << 8 | rgb[2];
          for (int i = 0; i < 4; ++i)
            line[x * 4 + i] = static_cast<unsigned char>(pixel >> (8 * i));
          break;
        }
      }
    }
    bmp.insert(bmp.end(), line.begin(), line.end());
  }
  return bmp;
}

// The JPEG with two full APP1 segments (as a large EXIF block and its thumbnail take) between
// its start and its frame header.
Bytes WithLargeExif(const Bytes& jpeg) {
  Bytes segment = {0xFF, 0xE1, 0xFF, 0xFF, 'E', 'x', 'i', 'f', 0, 0};
  segment.resize(2 + 0xFFFF, 0xFF);
  Bytes file(jpeg.begin(), jpeg.begin() + 2);
  for (int i = 0; i < 2; ++i) file.insert(file.end(), segment.begin(), segment.end());
  file.insert(file.end(), jpeg.begin() + 2, jpeg.end());
  return file;
}

// Where a baseline JPEG's size has been read: past its SOF0 marker, length, precision and size.
std::size_t PastFrameHeader(const Bytes& jpeg) {
  const unsigned char marker[] = {0xFF, 0xC0};
  return std::search(jpeg.begin(), jpeg.end(), marker, marker + 2) - jpeg.begin() + 9;
}

HeaderState Read(const Bytes& file, std::size_t size, PictureHeader* header) {
  return ReadPictureHeader(file.data(), std::min(size, file.size()), header);
}

std::uint64_t Hash(const Bytes& file) {
  std::uint64_t hash = 0;
  EXPECT_TRUE(PictureDifferenceHash(file.data(), file.size(), &hash));
  return hash;
}

TEST(PictureTest, ReadsFormatAndSizeFromTheFirstBytesOfEveryFormat) {
  const Rgb scene = DrawScene(0, 48, 32);
  const Bytes jpeg = testing::EncodeJpeg(scene, 90);
  const Bytes bmp = testing::EncodeBmp(scene);
  Bytes topDownBmp = bmp;
  topDownBmp[22] = static_cast<unsigned char>(-32);  // height -32, little end first
  std::fill(topDownBmp.begin() + 23, topDownBmp.begin() + 26, 0xFF);
  struct Case {
    const char* name;
    Bytes file;
    PictureFormat format;
    int width, height;
    std::size_t knownFrom;  // the shortest prefix that tells the size
    std::size_t brokenAt;   // a byte whose change (to `broken`) makes it no picture
    unsigned char broken;
  };
  const Case cases[] = {
      // The size is in the frame header after the quantisation tables; an end marker in place
      // of the first segment's.
      {"jpeg", jpeg, PictureFormat::Jpeg, 48, 32, PastFrameHeader(jpeg), 3, 0xD9},
      {"jpeg after 128 KB of EXIF", WithLargeExif(jpeg), PictureFormat::Jpeg, 48, 32,
       PastFrameHeader(jpeg) + 2 * (2 + 0xFFFF), 2 + 2 * (2 + 0xFFFF), 0x00},
      // A first chunk of 12 bytes is no image header.
      {"png", testing::EncodePng(scene), PictureFormat::Png, 48, 32, 24, 11, 12},
      // Width 0 on the logical screen.
      {"gif", MakeGif(3, 2, {0, 1, 2, 3, 2, 1}, 3, 2), PictureFormat::Gif, 3, 2, 10, 6, 0},
      // An information header of 41 bytes.
      {"bmp", bmp, PictureFormat::Bmp, 48, 32, 26, 14, 41},
      {"bmp top down", topDownBmp, PictureFormat::Bmp, 48, 32, 26, 21, 0x80},
      // A chunk named VP8Q.
      {"webp lossy", EncodeWebp(scene, WebpKind::Lossy), PictureFormat::Webp, 48, 32, 30, 15, 'Q'},
      {"webp lossless", EncodeWebp(scene, WebpKind::Lossless), PictureFormat::Webp, 48, 32, 25, 15,
       'Q'},
      // A VP8X chunk too short for the canvas size.
      {"webp extended", EncodeWebp(scene, WebpKind::WithAlpha), PictureFormat::Webp, 48, 32, 30, 16,
       9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PictureHeader header;
    for (std::size_t size = 0; size < c.knownFrom; ++size)
      ASSERT_EQ(Read(c.file, size, &header), HeaderState::NeedMore) << size << " bytes";
    for (std::size_t size : {c.knownFrom, c.knownFrom + 1, c.file.size()}) {
      header = PictureHeader();
      ASSERT_EQ(Read(c.file, size, &header), HeaderState::Known) << size << " bytes";
      EXPECT_EQ(header.format, c.format);
      EXPECT_EQ(header.width, c.width);
      EXPECT_EQ(header.height, c.height);
    }
    std::uint64_t hash = 0;
    EXPECT_TRUE(PictureDifferenceHash(c.file.data(), c.file.size(), &hash));
    // Damage past the header is the decoders' to survive, whatever they make of it.
    Bytes damaged = c.file;
    for (std::size_t at = c.knownFrom; at < damaged.size(); at += 7) damaged[at] ^= 0x5A;
    PictureDifferenceHash(damaged.data(), damaged.size(), &hash);
    Bytes broken = c.file;
    broken[c.brokenAt] = c.broken;
    EXPECT_EQ(Read(broken, broken.size(), &header), HeaderState::NotPicture);
    EXPECT_FALSE(PictureDifferenceHash(broken.data(), broken.size(), &hash));
  }
}

TEST(PictureTest, TellsOddHeadersApart) {
  // JPEG segments: APPn, DHT (whose payload must not be taken for a frame header), fill bytes,
  // a restart marker; the frame header of a progressive picture (SOF2), 3 x 2.
  const std::string dht = "\xFF\xC4\x00\x07\x08\x00\x09\x00\x0A"s;
  const std::string sof2 = "\xFF\xC2\x00\x0B\x08\x00\x02\x00\x03\x01\x01\x11\x00"s;
  struct Case {
    std::string bytes;
    HeaderState state;
    int width = 0, height = 0;
  };
  const Case cases[] = {
      {"", HeaderState::NeedMore},
      {"\xFF\xD8"s, HeaderState::NeedMore},
      {"\x89PN", HeaderState::NeedMore},
      {"RIFF\x10\x00\x00\x00WAVEfmt "s, HeaderState::NotPicture},
      {"<!DOCTYPE html>", HeaderState::NotPicture},
      {"\xFF\xD8\xFF\xE0\x00\x02"s + dht + "\xFF\xFF\xFF\xD3"s + sof2, HeaderState::Known, 3, 2},
      {"\xFF\xD8\xFF\xE0\x00\x02"s + dht + "\xFF\xFF\xFF"s, HeaderState::NeedMore},
      // A scan before any frame header; a segment length that does not count itself; a frame
      // of no lines (left to a DNL marker).
      {"\xFF\xD8\xFF\xDA\x00\x08"s + sof2, HeaderState::NotPicture},
      {"\xFF\xD8\xFF\xE0\x00\x01"s + sof2, HeaderState::NotPicture},
      {"\xFF\xD8\xFF\xC0\x00\x0B\x08\x00\x00\x00\x03\x01"s, HeaderState::NotPicture},
      // A PNG wider than a picture can be; the largest OS/2 BMP.
      {"\x89PNG\r\n\x1A\n\x00\x00\x00\x0DIHDR\x80\x00\x00\x00\x00\x00\x00\x01"s,
       HeaderState::NotPicture},
      {"BM\x1A\x00\x00\x00\x00\x00\x00\x00\x1A\x00\x00\x00"s  // file header
       "\x0C\x00\x00\x00\xFF\xFF\xFF\xFF\x01\x00\x18\x00"s,   // OS/2 information header
       HeaderState::Known, 65535, 65535},
  };
  for (const Case& c : cases) {
    PictureHeader header;
    const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
    ASSERT_EQ(ReadPictureHeader(data, c.bytes.size(), &header), c.state) << c.bytes;
    if (c.state != HeaderState::Known) continue;
    EXPECT_EQ(header.width, c.width) << c.bytes;
    EXPECT_EQ(header.height, c.height) << c.bytes;
  }
}

TEST(PictureTest, HashesTheSamePictureAlikeWhateverItsSizeAndEncoding) {
  const std::uint64_t original = Hash(testing::EncodePng(DrawScene(0, 640, 480)));
  const Bytes jpeg = testing::EncodeJpeg(DrawScene(0, 640, 480), 90);
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case copies[] = {
      {"jpeg", jpeg},
      {"jpeg after EXIF", WithLargeExif(jpeg)},
      {"jpeg at half size, quality 40", testing::EncodeJpeg(DrawScene(0, 320, 240), 40)},
      {"jpeg at 1.6 times", testing::EncodeJpeg(DrawScene(0, 1024, 768), 75)},
      {"jpeg in CMYK", EncodeCmykJpeg(DrawScene(0, 640, 480))},
      {"bmp a fifth", testing::EncodeBmp(DrawScene(0, 128, 96))},
      {"bmp of 256 greys", MakeBmp(DrawScene(0, 160, 120), {.bits = 8})},
      {"bmp of 16 greys", MakeBmp(DrawScene(0, 160, 120), {.bits = 4})},
      {"bmp of black and white", MakeBmp(DrawScene(0, 640, 480), {.bits = 1, .topDown = true})},
      {"bmp of 16 bits", MakeBmp(DrawScene(0, 160, 120), {.bits = 16})},
      {"bmp of 16 bits in bitfields",
       MakeBmp(DrawScene(0, 160, 120), {.bits = 16, .bitfields = true})},
      {"bmp of 32 bits", MakeBmp(DrawScene(0, 160, 120), {.bits = 32, .topDown = true})},
      {"bmp of 32 bits in bitfields, header of 124 bytes",
       MakeBmp(DrawScene(0, 160, 120), {.bits = 32, .bitfields = true, .infoLength = 124})},
      {"bmp of OS/2", MakeBmp(DrawScene(0, 160, 120), {.bits = 24, .infoLength = 12})},
      {"bmp of OS/2 in 256 greys", MakeBmp(DrawScene(0, 160, 120), {.bits = 8, .infoLength = 12})},
      {"gif of 256 greys", SceneGif(DrawScene(0, 160, 120), {.bits = 8})},
      {"gif of 16 greys, interlaced",
       SceneGif(DrawScene(0, 320, 240), {.bits = 4, .interlaced = true})},
      {"png in grey", EncodePngChannels(DrawScene(0, 320, 240), 1)},
      {"webp lossy", EncodeWebp(DrawScene(0, 400, 300), WebpKind::Lossy, 50)},
      {"webp lossless", EncodeWebp(DrawScene(0, 640, 480), WebpKind::Lossless)},
      {"webp extended", EncodeWebp(DrawScene(0, 800, 600), WebpKind::WithAlpha)},
  };
  for (const Case& copy : copies)
    EXPECT_LE(HashDistance(original, Hash(copy.file)), kNearDuplicateDistance) << copy.name;
  // Unrelated scenes, even in the same layout.
  for (int kind = 1; kind <= 4; ++kind) {
    const std::uint64_t other = Hash(testing::EncodeJpeg(DrawScene(kind, 640, 480), 90));
    EXPECT_GT(HashDistance(original, other), 2 * kNearDuplicateDistance) << "scene " << kind;
  }
}

TEST(PictureTest, RefusesToDecodeMoreThanTheLargestPicture) {
  // A GIF whose 1-pixel frame sits on a screen of 65535 x 65535: decoding would take 16 GB; and
  // one whose frame of 65535 x 65535 would take minutes on a screen of 1 pixel.
  for (const Bytes& bomb : {MakeGif(1, 1, {3}, 65535, 65535), MakeGif(65535, 65535, {}, 1, 1)}) {
    PictureHeader header;
    ASSERT_EQ(Read(bomb, bomb.size(), &header), HeaderState::Known);
    std::uint64_t hash = 0;
    EXPECT_FALSE(PictureDifferenceHash(bomb.data(), bomb.size(), &hash));
  }
  // A little one decodes.
  EXPECT_EQ(Hash(MakeGif(1, 1, {3}, 1, 1)), 0u);
}

TEST(PictureTest, HashesTransparentPixelsAsWhite) {
  // White then black, left to right: cells 0..4 are the first pixel, so the fifth pair of cells
  // differs in every row.
  const Rgb whiteBlack{2, 1, {255, 255, 255, 0, 0, 0}};
  constexpr std::uint64_t kWhiteThenBlack = 0x0808080808080808;
  struct Case {
    const char* name;
    Bytes file;
    std::uint64_t hash;
  };
  const Case cases[] = {
      {"gif", MakeGif(2, 1, {3, 0}, 2, 1), kWhiteThenBlack},
      {"gif with black clear", MakeGif(2, 1, {3, 0}, 2, 1, {.transparent = 0}), 0},
      {"gif with another colour clear", MakeGif(2, 1, {3, 0}, 2, 1, {.transparent = 1}),
       kWhiteThenBlack},
      // The screen past a frame of black.
      {"gif on a wider screen", MakeGif(1, 1, {0}, 2, 1), 0},
      {"png with black opaque", EncodePngChannels(whiteBlack, 4), kWhiteThenBlack},
      {"png with black clear", EncodePngChannels(whiteBlack, 4, true), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Hash(c.file), c.hash) << c.name;
}

TEST(PictureTest, ReadsEachChannelAsItsColour) {
  // Green is brighter than red, which is brighter than blue: swapping any two channels turns a
  // brighter left pixel into a darker one.
  constexpr std::uint64_t kLeftBrighter = 0x0808080808080808;
  const Rgb redBlue{2, 1, {255, 0, 0, 0, 0, 255}};
  const Rgb greenRed{2, 1, {0, 255, 0, 255, 0, 0}};
  const std::function<Bytes(const Rgb&)> encoders[] = {
      [](const Rgb& picture) { return testing::EncodePng(picture); },
      [](const Rgb& picture) { return EncodePngChannels(picture, 4); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 16}); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 16, .bitfields = true}); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 24}); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 24, .infoLength = 12}); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 32}); },
      [](const Rgb& picture) { return MakeBmp(picture, {.bits = 32, .bitfields = true}); },
  };
  for (std::size_t i = 0; i < std::size(encoders); ++i) {
    EXPECT_EQ(Hash(encoders[i](redBlue)), kLeftBrighter) << "encoder " << i;
    EXPECT_EQ(Hash(encoders[i](greenRed)), kLeftBrighter) << "encoder " << i;
  }
}

TEST(PictureTest, RefusesCutDamagedAndUnsupportedPictures) {
  const Rgb scene = DrawScene(0, 48, 32);
  const Bytes png = testing::EncodePng(scene);
  Bytes pngCrc = png;
  pngCrc[png.size() - 20] ^= 1;  // in the last bytes of the pixels, whose checksum fails
  const Bytes gif = SceneGif(scene, {.bits = 4});
  Bytes gifNoFrame(gif.begin(), gif.begin() + 13 + 16 * 3);
  gifNoFrame.push_back(0x3B);
  Bytes gifNoColours = MakeGif(2, 1, {3, 0}, 2, 1);
  gifNoColours[10] = 0;
  gifNoColours.erase(gifNoColours.begin() + 13, gifNoColours.begin() + 13 + 4 * 3);
  const Bytes bmp = testing::EncodeBmp(scene);
  const Bytes bmp8 = MakeBmp(scene, {.bits = 8});
  auto changed = [](Bytes file, std::size_t at, std::initializer_list<unsigned char> bytes) {
    std::copy(bytes.begin(), bytes.end(), file.begin() + at);
    return file;
  };
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"png cut in its pixels", Bytes(png.begin(), png.begin() + png.size() / 2)},
      // In the checksum of its last chunk of pixels. (Cut only of its end chunk, it decodes.)
      {"png cut in its last checksum", Bytes(png.begin(), png.end() - 14)},
      {"png failing its checksum", pngCrc},
      {"gif cut in its pixels", Bytes(gif.begin(), gif.begin() + gif.size() / 2)},
      {"gif of no frame", gifNoFrame},
      {"gif of no colours", gifNoColours},
      {"bmp short of a byte", Bytes(bmp.begin(), bmp.end() - 1)},
      {"bmp cut in its colours", Bytes(bmp8.begin(), bmp8.begin() + 54 + 4 * 100)},
      {"bmp of pixels past the end", changed(bmp, 10, {0xFF, 0xFF, 0xFF, 0xFF})},
      {"bmp of 2 bits a pixel", changed(bmp, 28, {2})},
      {"bmp of 0 bits a pixel", changed(bmp, 28, {0})},
      {"bmp run-length encoded", changed(bmp8, 30, {1})},
      {"bmp of 24 bits in bitfields", changed(bmp, 30, {3})},
      {"bmp in JPEG", changed(bmp, 30, {4})},
      {"bmp of a mask of no bits",
       changed(MakeBmp(scene, {.bits = 32, .bitfields = true}), 58, {0, 0, 0, 0})},
  };
  for (const Case& c : cases) {
    PictureHeader header;
    EXPECT_EQ(Read(c.file, c.file.size(), &header), HeaderState::Known) << c.name;
    std::uint64_t hash = 0;
    EXPECT_FALSE(PictureDifferenceHash(c.file.data(), c.file.size(), &hash)) << c.name;
  }
}

TEST(PictureTest, ParsesListsOfFormats) {
  struct Case {
    std::string_view text;
    bool ok;
    std::string expected;  // the canonical list, or the bad word
  };
  const Case cases[] = {
      {"", true, "jpg,png,gif,bmp,webp"},
      {" , ,", true, "jpg,png,gif,bmp,webp"},
      {"jpg", true, "jpg"},
      {"WebP,JPEG, png", true, "jpg,png,webp"},
      {"\tgif ,,bmp,gif", true, "gif,bmp"},
      {"jpg,tiff", false, "tiff"},
      {"jpg, j p g ", false, "j p g"},
      {"jpgpng", false, "jpgpng"},
  };
  for (const Case& c : cases) {
    std::uint32_t formats = 0;
    std::string badWord;
    ASSERT_EQ(ParsePictureFormats(c.text, &formats, &badWord), c.ok) << c.text;
    EXPECT_EQ(c.ok ? PictureFormatsText(formats) : badWord, c.expected) << c.text;
  }
  EXPECT_STREQ(PictureFormatName(PictureFormat::Webp), "webp");
  EXPECT_STREQ(PictureFormatName(PictureFormat::Unknown), "");
}

}  // namespace
}  // namespace quarry
