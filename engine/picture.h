// Pictures among the downloaded files: which format a body is and how large, told from its first
// bytes while it still arrives, so that a transfer of an unwanted picture stops early; and a
// 64-bit difference hash of the whole picture, so that the same picture saved at another size or
// quality is recognised as a near duplicate.
//
// The format comes from the magic bytes, never from the name or the Content-Type, which servers
// get wrong. The header reader parses the few fixed fields itself (a JPEG's markers are walked up
// to its frame header), as it must tell "not yet" from "never" on a body cut anywhere. Decoding
// is left to libjpeg-turbo, libpng, giflib and libwebp (a BMP's few layouts are read here), and
// refuses a header that promises more than kMaxPicturePixels before a byte of pixels is
// allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quarry {

enum class PictureFormat { Unknown, Jpeg, Png, Gif, Bmp, Webp };

// A set of formats is a bit per format; an empty list from the user means every format.
constexpr std::uint32_t PictureFormatBit(PictureFormat format) {
  return format == PictureFormat::Unknown ? 0 : 1u << static_cast<int>(format);
}
inline constexpr std::uint32_t kEveryPictureFormat =
    PictureFormatBit(PictureFormat::Jpeg) | PictureFormatBit(PictureFormat::Png) |
    PictureFormatBit(PictureFormat::Gif) | PictureFormatBit(PictureFormat::Bmp) |
    PictureFormatBit(PictureFormat::Webp);

// "jpg", "png", "gif", "bmp" or "webp"; "" for Unknown.
const char* PictureFormatName(PictureFormat format);

// The set named by a list such as "jpg,PNG, webp": words are separated by commas, case and
// blanks do not matter, "jpeg" is "jpg", and a list of no words is every format. False, with
// the word in `badWord` and `formats` untouched, at the first word that names no format.
bool ParsePictureFormats(std::string_view text, std::uint32_t* formats, std::string* badWord);
// The set as a list in the canonical order and spelling ("jpg,png,gif,bmp,webp").
std::string PictureFormatsText(std::uint32_t formats);

// The largest picture decoded: 100 megapixels covers the cameras people publish from. A decoder
// holds up to 4 bytes a pixel at once (6 for a progressive JPEG of full colour resolution), so
// this also bounds its memory to a few hundred megabytes.
inline constexpr std::int64_t kMaxPicturePixels = 100'000'000;

struct PictureHeader {
  PictureFormat format = PictureFormat::Unknown;
  int width = 0;
  int height = 0;
};

enum class HeaderState {
  NeedMore,    // the bytes so far may be a picture but do not show its size yet
  Known,       // `header` holds the format and a size of at least 1x1
  NotPicture,  // no format starts so, or its header is broken or of no pixels
};

// Reads the format and size from the first `size` bytes of a body. Cheap (a JPEG's walk reads
// two bytes a segment) and safe on any prefix of any bytes; NeedMore until the bytes tell.
// `header` is written only when Known.
HeaderState ReadPictureHeader(const unsigned char* data, std::size_t size, PictureHeader* header);

// The difference hash of a whole picture: its grey levels averaged over a grid of 9 columns and
// 8 rows, then one bit for each pair of horizontal neighbours, set when the left one is
// brighter (row by row, the first row in the highest bits). False when the body is no
// picture, is larger than kMaxPicturePixels, or does not decode. An animation gives the hash of
// its first frame.
bool PictureDifferenceHash(const unsigned char* data, std::size_t size, std::uint64_t* hash);

// The number of bits in which two hashes differ, 0..64.
int HashDistance(std::uint64_t a, std::uint64_t b);

// Hashes at most this far apart are taken for the same picture. Scaling and re-encoding move
// only the cells whose brightness is close to a neighbour's: the tests' copies, from a fifth to
// 1.6 times the size, at JPEG quality 40 or WebP 50, stay within 1 bit, and thumbnails of 20
// pixels drift to 4..12. Unrelated pictures differ in about half the bits; the tests' unrelated
// scenes, all drawn from the same kind of waves, in 16 to 59. 5 leaves room for harsher copies
// and stays far below that.
inline constexpr int kNearDuplicateDistance = 5;

}  // namespace quarry
