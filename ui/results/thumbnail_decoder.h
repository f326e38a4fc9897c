// Decoding of the grid's pictures away from the user-interface thread. Each picture is read
// straight at the size its cell draws it (QImageReader::setScaledSize, which lets the JPEG
// decoder skip most of the work for a large photograph), and every allocation a decoder makes
// is capped, so a page of thirty huge or hostile files neither freezes the window nor uses up
// the memory. Results come back as queued signals, one per picture, in the order they finish;
// work for a page the user has left is dropped before it starts.
#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <QThreadPool>

namespace quarry {

inline constexpr int kDecodeAllocationLimitMb = 64;  // the most one decoded picture may take
inline constexpr int kMaxDecodeThreads = 4;

// The picture at `path` scaled to ThumbnailDrawSize of its own size (after the turn its
// orientation tag asks for); a null image when the file is no picture this program can read
// or would need more than the allocation limit.
QImage DecodeThumbnail(const QString& path);

class ThumbnailDecoder : public QObject {
  Q_OBJECT

public:
  // Sets QImageReader's process-wide allocation limit to kDecodeAllocationLimitMb.
  explicit ThumbnailDecoder(QObject* parent = nullptr);
  // Drops the queued pictures and waits for those being decoded.
  ~ThumbnailDecoder() override;

  // Queues the picture at `path` for slot `index` of batch `batch`.
  void Decode(quint64 batch, int index, const QString& path);
  // Drops every picture not started yet.
  void DropQueued();
  // Waits up to `ms` milliseconds for every queued picture; true when all are done.
  bool WaitForDone(int ms);

signals:
  // Emitted from a decoding thread; connect with a queued connection.
  void decoded(quint64 batch, int index, const QImage& image);

private:
  QThreadPool m_pool;
};

}  // namespace quarry
