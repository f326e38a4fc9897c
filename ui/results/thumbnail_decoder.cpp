// Thumbnail decoding on a private thread pool; see thumbnail_decoder.h.
#include "ui/results/thumbnail_decoder.h"

#include <QFile>
#include <QImageReader>
#include <QRunnable>
#include <QThread>
#include <algorithm>

#include "ui/results/thumbnail_layout.h"

namespace quarry {

QImage DecodeThumbnail(const QString& path) {
  QImageReader reader(path);
  // The size from the header, read before any pixel: it fixes the drawn size, which the
  // decoder then produces directly.
  QSize full = reader.size();
  const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
  if (turned) full.transpose();
  const QSize drawn = ThumbnailDrawSize(full);
  if (full.isValid()) {
    QSize decoded = drawn;
    if (turned) decoded.transpose();  // scaling happens before the turn
    reader.setScaledSize(decoded);
  }
  reader.setAutoTransform(true);
  QImage image = reader.read();
  if (image.isNull()) return QImage();
  if (image.size() != drawn)
    image = image.scaled(drawn, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return image;
}

ThumbnailDecoder::ThumbnailDecoder(QObject* parent) : QObject(parent) {
  // The limit is checked by every image handler when it allocates, so it also holds for a
  // file whose header understates its size.
  QImageReader::setAllocationLimit(kDecodeAllocationLimitMb);
  m_pool.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, kMaxDecodeThreads));
}

ThumbnailDecoder::~ThumbnailDecoder() {
  m_pool.clear();
  m_pool.waitForDone();
}

void ThumbnailDecoder::Decode(quint64 batch, int index, const QString& path) {
  m_pool.start(QRunnable::create(
      [this, batch, index, path] { emit decoded(batch, index, DecodeThumbnail(path)); }));
}

void ThumbnailDecoder::DropQueued() { m_pool.clear(); }

bool ThumbnailDecoder::WaitForDone(int ms) { return m_pool.waitForDone(ms); }

}  // namespace quarry
