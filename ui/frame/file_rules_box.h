// CFileRulesBox: the controls of a task's file filters (FileRules), shared by the settings
// dialog (the defaults of new tasks) and the add-task dialog (the new tasks' own): the least and
// the largest size in bytes (0: no bound), a picture's least width and height, the picture
// formats kept, and the two wider duplicate checks. Every format ticked means every format,
// which the rules store as none; a list of no format cannot be chosen, nor a largest size below
// the least, and Refusal says so before the owner accepts.
#pragma once

#include <QGroupBox>
#include <QString>
#include <array>

#include "records/file_facts.h"

class QCheckBox;
class QSpinBox;

class CFileRulesBox : public QGroupBox {
  Q_OBJECT

public:
  static constexpr int kMaxBytes = 2'000'000'000;  // what a spin box holds; far beyond any file
  static constexpr int kMaxSide = 100'000;         // the engine's bound of a picture's side
  static constexpr int kFormatCount = 5;

  explicit CFileRulesBox(const QString& title, QWidget* parent = nullptr);

  // Shows `rules`; values beyond the boxes' ranges are shown at their bound.
  void SetRules(const quarry::FileRules& rules);
  // The rules shown (meaningful when Refusal is empty).
  quarry::FileRules Rules() const;
  // Why the rules shown cannot be used, for a message, with the control at fault in `fault`;
  // empty when they can.
  QString Refusal(QWidget** fault = nullptr) const;
  // The width, height and format controls count for pictures only: disabled for documents.
  void SetPictureControlsEnabled(bool enabled);
  // A line that tells the rules shown in a few words, for a collapsed section.
  QString Summary() const;

  QSpinBox* MinBytesBox() const { return m_minBytes; }
  QSpinBox* MaxBytesBox() const { return m_maxBytes; }
  QSpinBox* MinWidthBox() const { return m_minWidth; }
  QSpinBox* MinHeightBox() const { return m_minHeight; }
  // The format boxes in the order jpg, png, gif, bmp, webp.
  QCheckBox* FormatBox(int index) const { return m_formats[static_cast<std::size_t>(index)]; }
  QCheckBox* NearDuplicatesBox() const { return m_nearDuplicates; }
  QCheckBox* HomeDuplicatesBox() const { return m_homeDuplicates; }

signals:
  // Any value changed.
  void RulesChanged();

private:
  QSpinBox* m_minBytes;
  QSpinBox* m_maxBytes;
  QSpinBox* m_minWidth;
  QSpinBox* m_minHeight;
  std::array<QCheckBox*, kFormatCount> m_formats{};
  QCheckBox* m_nearDuplicates;
  QCheckBox* m_homeDuplicates;
};
