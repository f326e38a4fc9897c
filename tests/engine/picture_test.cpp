#include "engine/picture.h"

#include <gtest/gtest.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

// A GIF of four greys, uncompressed: a clear code before every pixel keeps each LZW code at
// 3 bits and the code table empty. `screen` is the logical screen, which may exceed the frame.
Bytes MakeGif(int width, int height, const Bytes& indexes, int screenWidth, int screenHeight) {
  auto little16 = [](Bytes* out, int value) {
    out->push_back(static_cast<unsigned char>(value & 0xFF));
    out->push_back(static_cast<unsigned char>(value >> 8));
  };
  Bytes gif = {'G', 'I', 'F', '8', '9', 'a'};
  little16(&gif, screenWidth);
  little16(&gif, screenHeight);
  gif.insert(gif.end(), {0x81, 0, 0});  // a global table of 4 colours
  for (unsigned char level : {0, 85, 170, 255}) gif.insert(gif.end(), {level, level, level});
  gif.insert(gif.end(), {0x2C, 0, 0, 0, 0});
  little16(&gif, width);
  little16(&gif, height);
  gif.insert(gif.end(), {0, 2});  // no local table; LZW codes start at 2 + 1 bits
  Bytes packed;
  unsigned bits = 0, count = 0;
  auto put = [&](unsigned code) {
    bits |= code << count;
    for (count += 3; count >= 8; count -= 8, bits >>= 8)
      packed.push_back(static_cast<unsigned char>(bits & 0xFF));
  };
  for (unsigned char index : indexes) {
    put(4);
    put(index);
  }
  put(5);
  if (count > 0) packed.push_back(static_cast<unsigned char>(bits));
  for (std::size_t at = 0; at < packed.size(); at += 255) {
    const std::size_t block = std::min<std::size_t>(255, packed.size() - at);
    gif.push_back(static_cast<unsigned char>(block));
    gif.insert(gif.end(), packed.begin() + at, packed.begin() + at + block);
  }
  gif.insert(gif.end(), {0, 0x3B});
  return gif;
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
  // A GIF whose 1-pixel frame sits on a screen of 65535 x 65535: decoding would take 16 GB.
  const Bytes bomb = MakeGif(1, 1, {3}, 65535, 65535);
  PictureHeader header;
  ASSERT_EQ(Read(bomb, bomb.size(), &header), HeaderState::Known);
  std::uint64_t hash = 0;
  EXPECT_FALSE(PictureDifferenceHash(bomb.data(), bomb.size(), &hash));
  // A little one decodes.
  EXPECT_EQ(Hash(MakeGif(1, 1, {3}, 1, 1)), 0u);
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
