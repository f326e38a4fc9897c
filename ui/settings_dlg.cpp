// CSettingsDlg: see settings_dlg.h. Two radio buttons in a group box, a line that says when the
// choice takes effect, and OK and Cancel.
#include "ui/settings_dlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

constexpr int kDialogWidth = 420;

}  // namespace

CSettingsDlg::CSettingsDlg(quarry::SearchMode mode, QWidget* parent)
    : QDialog(parent),
      m_classic(new QRadioButton(QStringLiteral("经典模式（按原有的结果页格式搜索，http）"))),
      m_live(new QRadioButton(
          QStringLiteral("实时模式（按搜索引擎现在的应答方式搜索：https、Cookie、跳转链接）"))) {
  setObjectName(QStringLiteral("SettingsDlg"));
  setWindowTitle(QStringLiteral("参数设置"));
  m_classic->setObjectName(QStringLiteral("ClassicMode"));
  m_live->setObjectName(QStringLiteral("LiveMode"));
  (mode == quarry::SearchMode::Live ? m_live : m_classic)->setChecked(true);

  auto* group = new QGroupBox(QStringLiteral("搜索模式"));
  auto* choices = new QVBoxLayout(group);
  choices->addWidget(m_classic);
  choices->addWidget(m_live);
  auto* note = new QLabel(QStringLiteral("新的设置用于此后开始的任务；正在运行的任务不受影响。"));
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(note);
  layout->addWidget(buttons);
  setMinimumWidth(kDialogWidth);
}

quarry::SearchMode CSettingsDlg::Mode() const {
  return m_live->isChecked() ? quarry::SearchMode::Live : quarry::SearchMode::Classic;
}
