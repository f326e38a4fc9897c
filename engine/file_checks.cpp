// The checks of a file on its way in, and the index of the contents a task holds.
#include "engine/file_checks.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/format.h"

namespace quarry {
namespace {

std::string Hex(const unsigned char* bytes, unsigned int size) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(size * 2);
  for (unsigned int i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

// Exact up to five digits, so that sizes either side of a bound never read the same.
std::string SizeText(std::int64_t bytes) {
  if (bytes < 100000) return Format("%lld 字节", static_cast<long long>(bytes));
  if (bytes < 10 * 1000 * 1000) return Format("%.1f KB", static_cast<double>(bytes) / 1000.0);
  return Format("%.1f MB", static_cast<double>(bytes) / 1e6);
}

FileInspector::FileInspector(const FileRules& rules, bool pictures)
    : m_rules(rules), m_pictures(pictures), m_sha(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
  Restart();
}

FileInspector::~FileInspector() = default;

bool FileInspector::Refuse(FailureReason reason, std::string detail) {
  m_refused = true;
  m_refusal = {reason, std::move(detail)};
  return false;
}

bool FileInspector::CheckLength(std::int64_t length) {
  if (length <= 0) {
    // A body of no announced length was never kept; it is when no minimum is asked for.
    if (m_rules.minBytes > 0) return Refuse(FailureReason::TooSmall, "服务器没有给出长度");
    return true;
  }
  if (length < m_rules.minBytes)
    return Refuse(FailureReason::TooSmall,
                  Format("%s，小于 %s", SizeText(length), SizeText(m_rules.minBytes)));
  if (m_rules.maxBytes > 0 && length > m_rules.maxBytes)
    return Refuse(FailureReason::Filtered,
                  Format("%s，大于 %s", SizeText(length), SizeText(m_rules.maxBytes)));
  return true;
}

void FileInspector::Restart() {
  if (m_sha) EVP_DigestInit_ex(m_sha.get(), EVP_sha256(), nullptr);
  m_head.clear();
  m_headerState = m_pictures ? HeaderState::NeedMore : HeaderState::NotPicture;
  m_header = PictureHeader{};
  m_received = 0;
}

bool FileInspector::CheckHeader() {
  if (m_rules.formats != 0 && (m_rules.formats & PictureFormatBit(m_header.format)) == 0)
    return Refuse(FailureReason::Filtered,
                  Format("格式 %s 不在保留之列", PictureFormatName(m_header.format)));
  if (m_header.width < m_rules.minWidth || m_header.height < m_rules.minHeight)
    return Refuse(FailureReason::Filtered, Format("图片 %d×%d，小于 %d×%d", m_header.width,
                                                  m_header.height, m_rules.minWidth,
                                                  m_rules.minHeight));
  return true;
}

bool FileInspector::See(const char* data, std::size_t size) {
  if (m_refused) return false;
  if (m_sha) EVP_DigestUpdate(m_sha.get(), data, size);
  m_received += static_cast<std::int64_t>(size);
  if (m_rules.maxBytes > 0 && m_received > m_rules.maxBytes)
    return Refuse(FailureReason::Filtered, Format("超过 %s", SizeText(m_rules.maxBytes)));
  if (m_headerState != HeaderState::NeedMore || m_head.size() >= kPictureHeadBytes) return true;
  const std::size_t take = std::min(size, kPictureHeadBytes - m_head.size());
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  m_head.insert(m_head.end(), bytes, bytes + take);
  m_headerState = ReadPictureHeader(m_head.data(), m_head.size(), &m_header);
  if (m_headerState == HeaderState::Known) {
    m_head.clear();
    m_head.shrink_to_fit();
    return CheckHeader();
  }
  return true;
}

bool FileInspector::Finish() {
  if (m_refused) return false;
  if (m_received < m_rules.minBytes)
    return Refuse(FailureReason::TooSmall,
                  Format("%s，小于 %s", SizeText(m_received), SizeText(m_rules.minBytes)));
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  m_facts = FileFacts{};
  m_facts.size = m_received;
  if (m_sha && EVP_DigestFinal_ex(m_sha.get(), digest, &length) == 1)
    m_facts.sha256 = Hex(digest, length);
  if (m_headerState == HeaderState::Known) {
    m_facts.width = m_header.width;
    m_facts.height = m_header.height;
  }
  m_head.clear();
  // A picture rule keeps only pictures it can read.
  const bool pictureRules =
      m_pictures && (m_rules.formats != 0 || m_rules.minWidth > 0 || m_rules.minHeight > 0);
  if (pictureRules && m_headerState != HeaderState::Known)
    return Refuse(FailureReason::Filtered, "不是能读出大小的图片");
  return true;
}

bool PictureHashOfFile(int fd, std::int64_t size, std::uint64_t* hash) {
  if (size <= 0 || size > kMaxHashedPictureBytes) return false;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::pread(fd, bytes.data() + done, bytes.size() - done,
                                  static_cast<off_t>(done));
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return PictureDifferenceHash(bytes.data(), bytes.size(), hash);
}

void ContentIndex::Load(const std::vector<FileEntry>& files) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (const FileEntry& file : files) {
    if (!file.hasFacts) continue;
    if (!file.facts.sha256.empty()) m_names.emplace(file.facts.sha256, file.record.fileName);
    if (file.facts.hasDhash) m_pictures.emplace_back(file.facts.dhash, file.record.fileName);
  }
}

std::string ContentIndex::Claim(const std::string& sha256, const std::string& path) {
  if (sha256.empty()) return std::string();
  std::lock_guard<std::mutex> guard(m_lock);
  const auto [found, inserted] = m_names.emplace(sha256, path);
  return inserted ? std::string() : found->second;
}

std::string ContentIndex::ClaimNear(std::uint64_t dhash, const std::string& path) {
  std::lock_guard<std::mutex> guard(m_lock);
  for (const auto& [kept, name] : m_pictures) {
    if (HashDistance(kept, dhash) <= kNearDuplicateDistance) return name;
  }
  m_pictures.emplace_back(dhash, path);
  return std::string();
}

void ContentIndex::Named(const std::string& sha256, const std::string& finalPath) {
  std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_names.find(sha256);
  if (found == m_names.end()) return;
  for (auto& [hash, name] : m_pictures) {
    if (name == found->second) name = finalPath;
  }
  found->second = finalPath;
}

void ContentIndex::Release(const std::string& sha256, const std::string& path) {
  std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_names.find(sha256);
  if (found != m_names.end() && found->second == path) m_names.erase(found);
  std::erase_if(m_pictures, [&](const auto& picture) { return picture.second == path; });
}

std::size_t ContentIndex::Size() {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_names.size();
}

}  // namespace quarry
