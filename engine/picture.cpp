// Picture formats, lists of them and headers; the hash is in picture_hash.cpp. See picture.h.
//
// The header reader works in two steps: the magic bytes pick the format (or say that more bytes
// are needed to pick one), then the format's own reader looks for the size at a fixed place,
// except in a JPEG, where the frame header follows segments of any length and number (an EXIF
// block with its thumbnail often takes tens of kilobytes) and the reader hops from one length
// field to the next. A WebP's size is read by libwebp, which tells a short body from a broken
// one, except in the extended layout, whose canvas size stands in its first chunk.
#include "engine/picture.h"

#include <webp/decode.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace quarry {
namespace {

struct FormatName {
  PictureFormat format;
  const char* name;
};
// In the canonical order of a list.
constexpr FormatName kFormatNames[] = {{PictureFormat::Jpeg, "jpg"},
                                       {PictureFormat::Png, "png"},
                                       {PictureFormat::Gif, "gif"},
                                       {PictureFormat::Bmp, "bmp"},
                                       {PictureFormat::Webp, "webp"}};

struct Magic {
  PictureFormat format;
  std::string_view bytes;  // a '?' stands for any byte (the RIFF length)
};
// A JPEG's start-of-image marker is followed by the first segment's marker, so three bytes.
constexpr Magic kMagics[] = {
    {PictureFormat::Jpeg, "\xFF\xD8\xFF"},
    {PictureFormat::Png, "\x89PNG\r\n\x1A\n"},
    {PictureFormat::Gif, "GIF87a"},
    {PictureFormat::Gif, "GIF89a"},
    {PictureFormat::Bmp, "BM"},
    {PictureFormat::Webp, "RIFF????WEBP"},
};

std::uint32_t Big16(const unsigned char* p) { return (p[0] << 8) | p[1]; }
std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}
std::uint32_t Little16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Little24(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16); }
std::uint32_t Little32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

// Known with the format when the bytes start with a whole magic, NeedMore when they are the
// start of one (or empty), NotPicture otherwise.
HeaderState PickFormat(const unsigned char* data, std::size_t size, PictureFormat* format) {
  bool partial = false;
  for (const Magic& magic : kMagics) {
    const std::size_t compared = std::min(size, magic.bytes.size());
    bool same = true;
    for (std::size_t i = 0; i < compared && same; ++i)
      same = magic.bytes[i] == '?' || data[i] == static_cast<unsigned char>(magic.bytes[i]);
    if (!same) continue;
    if (size < magic.bytes.size()) {
      partial = true;
      continue;
    }
    *format = magic.format;
    return HeaderState::Known;
  }
  return partial ? HeaderState::NeedMore : HeaderState::NotPicture;
}

// A size as the formats store it, unsigned; the caller refuses zero and what an int cannot hold.
struct StoredSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// Start and end of frame headers: SOF0..SOF15 but DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameHeader(unsigned code) {
  return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

HeaderState ReadJpegSize(const unsigned char* data, std::size_t size, StoredSize* stored) {
  std::size_t at = 2;  // past the start-of-image marker
  for (;;) {
    // A marker is one or more 0xFF bytes, then its code.
    if (at >= size) return HeaderState::NeedMore;
    if (data[at] != 0xFF) return HeaderState::NotPicture;
    while (at < size && data[at] == 0xFF) ++at;
    if (at >= size) return HeaderState::NeedMore;
    const unsigned code = data[at++];
    // Restart markers and TEM stand alone; a scan, an end or a second start before the frame
    // header is a broken file.
    if ((code >= 0xD0 && code <= 0xD7) || code == 0x01) continue;
    if (code == 0xDA || code == 0xD8 || code == 0xD9 || code == 0x00)
      return HeaderState::NotPicture;
    if (at + 2 > size) return HeaderState::NeedMore;
    const std::size_t length = Big16(data + at);  // counts itself, not the marker
    if (length < 2) return HeaderState::NotPicture;
    if (IsFrameHeader(code)) {
      // Length, sample precision, lines, samples per line, component count.
      if (length < 8) return HeaderState::NotPicture;
      if (at + 7 > size) return HeaderState::NeedMore;
      stored->height = Big16(data + at + 3);  // 0 would leave it to a DNL marker: refused
      stored->width = Big16(data + at + 5);
      return HeaderState::Known;
    }
    at += length;
  }
}

HeaderState ReadPngSize(const unsigned char* data, std::size_t size, StoredSize* stored) {
  // The first chunk is the 13-byte image header: width, height, then the sample layout.
  if (size < 24) return HeaderState::NeedMore;
  if (Big32(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
    return HeaderState::NotPicture;
  stored->width = Big32(data + 16);
  stored->height = Big32(data + 20);
  return HeaderState::Known;
}

HeaderState ReadGifSize(const unsigned char* data, std::size_t size, StoredSize* stored) {
  // The logical screen, which every frame lies in.
  if (size < 10) return HeaderState::NeedMore;
  stored->width = Little16(data + 6);
  stored->height = Little16(data + 8);
  return HeaderState::Known;
}

HeaderState ReadBmpSize(const unsigned char* data, std::size_t size, StoredSize* stored) {
  // The information header follows the 14-byte file header and starts with its own length.
  if (size < 26) return HeaderState::NeedMore;
  const std::uint32_t infoLength = Little32(data + 14);
  if (infoLength == 12) {  // OS/2 1.x: unsigned 16-bit sizes
    stored->width = Little16(data + 18);
    stored->height = Little16(data + 20);
    return HeaderState::Known;
  }
  if (infoLength != 40 && infoLength != 52 && infoLength != 56 && infoLength != 64 &&
      infoLength != 108 && infoLength != 124)
    return HeaderState::NotPicture;
  // Signed 32-bit sizes; a negative height stores the rows top down.
  const std::int64_t width = static_cast<std::int32_t>(Little32(data + 18));
  const std::int64_t height = static_cast<std::int32_t>(Little32(data + 22));
  if (width < 0) return HeaderState::NotPicture;
  stored->width = static_cast<std::uint32_t>(width);
  stored->height = static_cast<std::uint32_t>(height < 0 ? -height : height);
  return HeaderState::Known;
}

HeaderState ReadWebpSize(const unsigned char* data, std::size_t size, StoredSize* stored) {
  // The extended layout's first chunk holds the canvas size, less one, in 24 bits each; the
  // chunks of metadata after it may be long, and libwebp would wait for all of them.
  if (size >= 16 && std::memcmp(data + 12, "VP8X", 4) == 0) {
    if (size < 30) return HeaderState::NeedMore;
    if (Little32(data + 16) < 10) return HeaderState::NotPicture;
    stored->width = Little24(data + 24) + 1;
    stored->height = Little24(data + 27) + 1;
    return HeaderState::Known;
  }
  WebPBitstreamFeatures features;
  switch (WebPGetFeatures(data, size, &features)) {
    case VP8_STATUS_OK:
      stored->width = static_cast<std::uint32_t>(features.width);
      stored->height = static_cast<std::uint32_t>(features.height);
      return HeaderState::Known;
    case VP8_STATUS_NOT_ENOUGH_DATA: return HeaderState::NeedMore;
    default: return HeaderState::NotPicture;
  }
}

}  // namespace

const char* PictureFormatName(PictureFormat format) {
  for (const FormatName& entry : kFormatNames)
    if (entry.format == format) return entry.name;
  return "";
}

bool ParsePictureFormats(std::string_view text, std::uint32_t* formats, std::string* badWord) {
  std::uint32_t set = 0;
  bool anyWord = false;
  while (!text.empty()) {
    const std::size_t comma = text.find(',');
    std::string_view word = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    const std::size_t first = word.find_first_not_of(" \t");
    if (first == std::string_view::npos) continue;
    word = word.substr(first, word.find_last_not_of(" \t") - first + 1);
    std::string lower(word);
    for (char& c : lower)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (lower == "jpeg") lower = "jpg";
    std::uint32_t bit = 0;
    for (const FormatName& entry : kFormatNames)
      if (lower == entry.name) bit = PictureFormatBit(entry.format);
    if (bit == 0) {
      *badWord = std::string(word);
      return false;
    }
    set |= bit;
    anyWord = true;
  }
  *formats = anyWord ? set : kEveryPictureFormat;
  return true;
}

std::string PictureFormatsText(std::uint32_t formats) {
  std::string text;
  for (const FormatName& entry : kFormatNames) {
    if ((formats & PictureFormatBit(entry.format)) == 0) continue;
    if (!text.empty()) text += ',';
    text += entry.name;
  }
  return text;
}

HeaderState ReadPictureHeader(const unsigned char* data, std::size_t size, PictureHeader* header) {
  PictureFormat format = PictureFormat::Unknown;
  const HeaderState picked = PickFormat(data, size, &format);
  if (picked != HeaderState::Known) return picked;
  StoredSize stored;
  HeaderState state = HeaderState::NotPicture;
  switch (format) {
    case PictureFormat::Jpeg: state = ReadJpegSize(data, size, &stored); break;
    case PictureFormat::Png: state = ReadPngSize(data, size, &stored); break;
    case PictureFormat::Gif: state = ReadGifSize(data, size, &stored); break;
    case PictureFormat::Bmp: state = ReadBmpSize(data, size, &stored); break;
    case PictureFormat::Webp: state = ReadWebpSize(data, size, &stored); break;
    case PictureFormat::Unknown: break;
  }
  if (state != HeaderState::Known) return state;
  if (stored.width == 0 || stored.height == 0 || stored.width > INT_MAX || stored.height > INT_MAX)
    return HeaderState::NotPicture;
  header->format = format;
  header->width = static_cast<int>(stored.width);
  header->height = static_cast<int>(stored.height);
  return HeaderState::Known;
}

}  // namespace quarry
