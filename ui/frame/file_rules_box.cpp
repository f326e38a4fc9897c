// CFileRulesBox: see file_rules_box.h. A grid of four spin boxes (sizes in bytes, sides in
// pixels, each showing "不限" at 0 where 0 means no bound), a row of format boxes and the two
// duplicate checks.
#include "ui/frame/file_rules_box.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>
#include <QStringList>
#include <algorithm>

#include "engine/picture.h"

namespace {

constexpr quarry::PictureFormat kFormats[CFileRulesBox::kFormatCount] = {
    quarry::PictureFormat::Jpeg, quarry::PictureFormat::Png, quarry::PictureFormat::Gif,
    quarry::PictureFormat::Bmp, quarry::PictureFormat::Webp};
constexpr char kNoBound[] = "不限";

QSpinBox* NumberField(const QString& name, int maximum, const char* unit, bool zeroIsNoBound) {
  auto* box = new QSpinBox;
  box->setObjectName(name);
  box->setRange(0, maximum);
  box->setGroupSeparatorShown(true);  // 2,000,000 reads at a glance
  box->setSuffix(QString::fromUtf8(unit));
  if (zeroIsNoBound) box->setSpecialValueText(QString::fromUtf8(kNoBound));
  return box;
}

int Clamped(std::int64_t value, int maximum) {
  return static_cast<int>(std::clamp<std::int64_t>(value, 0, maximum));
}

}  // namespace

CFileRulesBox::CFileRulesBox(const QString& title, QWidget* parent)
    : QGroupBox(title, parent),
      m_minBytes(NumberField(QStringLiteral("MinBytes"), kMaxBytes, " 字节", false)),
      m_maxBytes(NumberField(QStringLiteral("MaxBytes"), kMaxBytes, " 字节", true)),
      m_minWidth(NumberField(QStringLiteral("MinWidth"), kMaxSide, " 像素", true)),
      m_minHeight(NumberField(QStringLiteral("MinHeight"), kMaxSide, " 像素", true)),
      m_nearDuplicates(new QCheckBox(QStringLiteral("相似图片也算重复"))),
      m_homeDuplicates(new QCheckBox(QStringLiteral("在所有任务文件夹中查重"))) {
  setObjectName(QStringLiteral("FileRules"));
  m_nearDuplicates->setObjectName(QStringLiteral("NearDuplicates"));
  m_nearDuplicates->setToolTip(
      QStringLiteral("缩放或重新压缩过的同一张图片也不保存（比较图片的差异哈希）"));
  m_homeDuplicates->setObjectName(QStringLiteral("HomeDuplicates"));
  m_homeDuplicates->setToolTip(QStringLiteral("其他任务已保存过的内容也不再保存"));

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("最小文件：")), 0, 0);
  grid->addWidget(m_minBytes, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("最大文件：")), 0, 2);
  grid->addWidget(m_maxBytes, 0, 3);
  grid->addWidget(new QLabel(QStringLiteral("图片最小宽度：")), 1, 0);
  grid->addWidget(m_minWidth, 1, 1);
  grid->addWidget(new QLabel(QStringLiteral("图片最小高度：")), 1, 2);
  grid->addWidget(m_minHeight, 1, 3);
  auto* formats = new QHBoxLayout;
  for (int i = 0; i < kFormatCount; ++i) {
    // The engine's own names, as quarry-cli's --formats takes them.
    auto* box = new QCheckBox(QString::fromLatin1(quarry::PictureFormatName(kFormats[i])));
    box->setObjectName(QStringLiteral("Format_") + box->text());
    box->setChecked(true);
    m_formats[static_cast<std::size_t>(i)] = box;
    formats->addWidget(box);
    connect(box, &QCheckBox::toggled, this, &CFileRulesBox::RulesChanged);
  }
  formats->addStretch();
  grid->addWidget(new QLabel(QStringLiteral("保留的图片格式：")), 2, 0);
  grid->addLayout(formats, 2, 1, 1, 3);
  grid->addWidget(m_nearDuplicates, 3, 0, 1, 4);
  grid->addWidget(m_homeDuplicates, 4, 0, 1, 4);
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  for (QSpinBox* box : {m_minBytes, m_maxBytes, m_minWidth, m_minHeight})
    connect(box, &QSpinBox::valueChanged, this, &CFileRulesBox::RulesChanged);
  for (QCheckBox* box : {m_nearDuplicates, m_homeDuplicates})
    connect(box, &QCheckBox::toggled, this, &CFileRulesBox::RulesChanged);
  SetRules(quarry::FileRules{});
}

void CFileRulesBox::SetRules(const quarry::FileRules& rules) {
  m_minBytes->setValue(Clamped(rules.minBytes, kMaxBytes));
  m_maxBytes->setValue(Clamped(rules.maxBytes, kMaxBytes));
  m_minWidth->setValue(Clamped(rules.minWidth, kMaxSide));
  m_minHeight->setValue(Clamped(rules.minHeight, kMaxSide));
  for (int i = 0; i < kFormatCount; ++i) {
    m_formats[static_cast<std::size_t>(i)]->setChecked(
        rules.formats == 0 || (rules.formats & quarry::PictureFormatBit(kFormats[i])) != 0);
  }
  m_nearDuplicates->setChecked(rules.nearDuplicates);
  m_homeDuplicates->setChecked(rules.homeDuplicates);
}

quarry::FileRules CFileRulesBox::Rules() const {
  quarry::FileRules rules;
  rules.minBytes = m_minBytes->value();
  rules.maxBytes = m_maxBytes->value();
  rules.minWidth = m_minWidth->value();
  rules.minHeight = m_minHeight->value();
  rules.formats = 0;
  for (int i = 0; i < kFormatCount; ++i) {
    if (m_formats[static_cast<std::size_t>(i)]->isChecked())
      rules.formats |= quarry::PictureFormatBit(kFormats[i]);
  }
  if (rules.formats == quarry::kEveryPictureFormat) rules.formats = 0;
  rules.nearDuplicates = m_nearDuplicates->isChecked();
  rules.homeDuplicates = m_homeDuplicates->isChecked();
  return rules;
}

QString CFileRulesBox::Refusal(QWidget** fault) const {
  QWidget* ignored = nullptr;
  QWidget*& at = fault ? *fault : ignored;
  if (m_maxBytes->value() != 0 && m_maxBytes->value() < m_minBytes->value()) {
    at = m_maxBytes;
    return QStringLiteral("最大文件（%1 字节）不能小于最小文件（%2 字节）；不限大小请填 0。")
        .arg(m_maxBytes->value())
        .arg(m_minBytes->value());
  }
  if (std::none_of(m_formats.begin(), m_formats.end(),
                   [](const QCheckBox* box) { return box->isChecked(); })) {
    at = m_formats[0];
    return QStringLiteral("请至少选择一种要保留的图片格式。");
  }
  return QString();
}

void CFileRulesBox::SetPictureControlsEnabled(bool enabled) {
  m_minWidth->setEnabled(enabled);
  m_minHeight->setEnabled(enabled);
  m_nearDuplicates->setEnabled(enabled);
  for (QCheckBox* box : m_formats) box->setEnabled(enabled);
}

QString CFileRulesBox::Summary() const {
  const quarry::FileRules rules = Rules();
  QStringList parts;
  const QLocale locale;  // the spin boxes' digit groups
  const QString least = locale.toString(static_cast<qlonglong>(rules.minBytes));
  const QString most = locale.toString(static_cast<qlonglong>(rules.maxBytes));
  if (rules.minBytes > 0 && rules.maxBytes > 0) {
    parts << QStringLiteral("%1 至 %2 字节").arg(least, most);
  } else if (rules.maxBytes > 0) {
    parts << QStringLiteral("不大于 %1 字节").arg(most);
  } else if (rules.minBytes > 0) {
    parts << QStringLiteral("不小于 %1 字节").arg(least);
  }
  if (rules.minWidth > 0 || rules.minHeight > 0)
    parts << QStringLiteral("图片至少 %1×%2 像素").arg(rules.minWidth).arg(rules.minHeight);
  if (rules.formats != 0)
    parts << QStringLiteral("只保留 ") +
                 QString::fromStdString(quarry::PictureFormatsText(rules.formats))
                     .replace(QLatin1Char(','), QStringLiteral("、"));
  if (rules.nearDuplicates) parts << QStringLiteral("相似图片算重复");
  if (rules.homeDuplicates) parts << QStringLiteral("所有任务文件夹中查重");
  return parts.isEmpty() ? QStringLiteral("不筛选") : parts.join(QStringLiteral("；"));
}
