// What a task keeps: the checks a downloaded file passes before it is kept, and the contents
// the task holds already.
//
// FileInspector watches one file's body as it arrives (http/transfer.h's BodyWatch): it hashes
// every byte with SHA-256, so the content is known when the body is whole without reading it
// again, and it reads a picture's format and size from its first bytes, so that a picture of a
// format not kept, a picture too small or a body over the maximum size ends its transfer early.
//
// ContentIndex holds the contents of the task's kept files (their SHA-256 and, for pictures,
// difference hashes) and of the files on their way to being kept: a worker claims a content
// before handing its file over, so two workers receiving the same picture at once keep one.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/picture.h"
#include "http/transfer.h"
#include "records/file_facts.h"

namespace quarry {

// The first bytes of a body kept for reading a picture's header: a JPEG's frame header may
// follow tens of kilobytes of embedded data; one that comes later is read from the whole file.
inline constexpr std::size_t kPictureHeadBytes = 256 * 1024;

// Why a file is not kept, for the log and the failure list.
struct Refusal {
  FailureReason reason = FailureReason::Filtered;
  std::string detail;  // the window's words
};

class FileInspector : public BodyWatch {
public:
  // `pictures`: the task harvests pictures, so the picture rules apply.
  FileInspector(const FileRules& rules, bool pictures);
  ~FileInspector() override;
  FileInspector(const FileInspector&) = delete;
  FileInspector& operator=(const FileInspector&) = delete;

  // The size the server announced (0: none): a refusal before any byte is asked for.
  bool CheckLength(std::int64_t length);

  void Restart() override;
  bool See(const char* data, std::size_t size) override;

  // Once the body is whole: the checks that needed all of it. False when the file is refused.
  bool Finish();
  const Refusal& Refused() const { return m_refusal; }
  // Valid after Finish: the size, the SHA-256 and a picture's size.
  const FileFacts& Facts() const { return m_facts; }
  bool IsPicture() const { return m_header.format != PictureFormat::Unknown; }

private:
  bool Refuse(FailureReason reason, std::string detail);
  // Applies the picture rules to a header that is known.
  bool CheckHeader();

  const FileRules m_rules;
  const bool m_pictures;
  std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> m_sha;
  std::vector<unsigned char> m_head;  // the first bytes, while the header is not known
  HeaderState m_headerState = HeaderState::NeedMore;
  PictureHeader m_header;
  std::int64_t m_received = 0;
  Refusal m_refusal;
  bool m_refused = false;
  FileFacts m_facts;
};

// The largest file whose picture is hashed: a bigger one is kept unhashed.
inline constexpr std::int64_t kMaxHashedPictureBytes = 64 * 1024 * 1024;

// The difference hash of the picture in the open file `fd` of `size` bytes, read from its
// start; false when it is larger than kMaxHashedPictureBytes, cannot be read or decoded.
bool PictureHashOfFile(int fd, std::int64_t size, std::uint64_t* hash);

// The words of a size in bytes for the window ("800 字节", "150.0 KB", "12.5 MB").
std::string SizeText(std::int64_t bytes);

class ContentIndex {
public:
  // Starts from the task's kept files.
  void Load(const std::vector<FileEntry>& files);
  // Claims the content `sha256` for the file to be kept as `path`: "" when no file kept or
  // claimed has it, else the name of the file that has it (and nothing is claimed).
  std::string Claim(const std::string& sha256, const std::string& path);
  // The same for a picture's difference hash: the name of a kept or claimed picture within
  // kNearDuplicateDistance, else "" and the hash is claimed.
  std::string ClaimNear(std::uint64_t dhash, const std::string& path);
  // The file claimed as `path` was kept under `finalPath` (a numbered name, maybe).
  void Named(const std::string& sha256, const std::string& finalPath);
  // The file claimed with these was not kept: its content is free again.
  void Release(const std::string& sha256, const std::string& path);
  std::size_t Size();

private:
  std::mutex m_lock;
  std::unordered_map<std::string, std::string> m_names;  // SHA-256 -> file name
  std::vector<std::pair<std::uint64_t, std::string>> m_pictures;  // difference hash, name
};

}  // namespace quarry
