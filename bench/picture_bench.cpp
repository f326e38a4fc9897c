// The work a downloaded picture costs, per picture: reading its header from the first 64 KB
// (which decides whether the transfer goes on), the SHA-256 of a 200 KB body (the exact
// duplicate check) and the difference hash of a 1024x768 JPEG and PNG and of a 12-megapixel
// JPEG (the near duplicate check). The pictures are the tests' smooth scene with grain added, so
// that they compress about as badly as photographs do; the label gives the file size.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "engine/file_checks.h"
#include "engine/picture.h"
#include "tests/support/pictures.h"

namespace {

using quarry::testing::Bytes;

constexpr std::size_t kHeaderPrefix = 64 * 1024;
constexpr std::size_t kBodySize = 200 * 1024;

quarry::testing::Rgb GrainyScene(int width, int height) {
  quarry::testing::Rgb picture = quarry::testing::DrawScene(0, width, height);
  std::uint32_t state = 12345;
  for (unsigned char& level : picture.pixels) {
    state = state * 1103515245u + 12345u;
    const int grain = static_cast<int>((state >> 16) % 41) - 20;
    level = static_cast<unsigned char>(std::clamp(level + grain, 0, 255));
  }
  return picture;
}

const Bytes& Jpeg() {
  static const Bytes file = quarry::testing::EncodeJpeg(GrainyScene(1024, 768), 85);
  return file;
}

const Bytes& LargeJpeg() {
  static const Bytes file = quarry::testing::EncodeJpeg(GrainyScene(4000, 3000), 85);
  return file;
}

const Bytes& Png() {
  static const Bytes file = quarry::testing::EncodePng(GrainyScene(1024, 768));
  return file;
}

// Everything a harvested file passes on its way in, as the nginx harvest's files do: its
// announced length checked, every byte hashed (in the pieces a download receives) and, for a
// picture, its header read. Argument 0: a 20,480-byte document; 1: a JPEG of about that size.
void BM_InspectFile(benchmark::State& state) {
  const bool picture = state.range(0) == 1;
  static const Bytes document(20480, 0x25);
  static const Bytes small = quarry::testing::EncodeJpeg(GrainyScene(160, 120), 85);
  const Bytes& body = picture ? small : document;
  for (auto _ : state) {
    quarry::FileInspector inspector(quarry::FileRules{}, picture);
    inspector.CheckLength(static_cast<std::int64_t>(body.size()));
    for (std::size_t at = 0; at < body.size(); at += 4096) {
      inspector.See(reinterpret_cast<const char*>(body.data() + at),
                    std::min<std::size_t>(4096, body.size() - at));
    }
    benchmark::DoNotOptimize(inspector.Finish());
  }
  state.SetLabel(std::to_string(body.size()) + " bytes");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InspectFile)->Arg(0)->Arg(1);

void BM_ReadPictureHeader(benchmark::State& state) {
  const Bytes& file = Jpeg();
  const std::size_t size = std::min(file.size(), kHeaderPrefix);
  quarry::PictureHeader header;
  for (auto _ : state) {
    benchmark::DoNotOptimize(quarry::ReadPictureHeader(file.data(), size, &header));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Sha256(benchmark::State& state) {
  const Bytes body(kBodySize, 0x5A);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  for (auto _ : state) {
    if (!EVP_Digest(body.data(), body.size(), digest, &length, EVP_sha256(), nullptr))
      state.SkipWithError("no digest");
    benchmark::DoNotOptimize(digest[0]);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * kBodySize);
}

// 0: JPEG, 1: PNG, 2: JPEG of 4000x3000.
void BM_PictureDifferenceHash(benchmark::State& state) {
  const Bytes& file = state.range(0) == 0 ? Jpeg() : state.range(0) == 1 ? Png() : LargeJpeg();
  std::uint64_t hash = 0;
  for (auto _ : state) {
    if (!quarry::PictureDifferenceHash(file.data(), file.size(), &hash))
      state.SkipWithError("does not decode");
    benchmark::DoNotOptimize(hash);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(std::to_string(file.size() / 1024) + " KB");
}

}  // namespace

BENCHMARK(BM_ReadPictureHeader);
BENCHMARK(BM_Sha256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PictureDifferenceHash)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
