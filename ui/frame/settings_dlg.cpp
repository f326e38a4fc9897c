// CSettingsDlg: see settings_dlg.h. Two group boxes of radio buttons (the search mode; the
// proxy, with its address box), the default file filters, a line that says when the choices
// take effect, and OK and Cancel.
#include "ui/frame/settings_dlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "http/proxy.h"
#include "ui/frame/file_rules_box.h"

namespace {

constexpr int kDialogWidth = 420;

}  // namespace

CSettingsDlg::CSettingsDlg(quarry::SearchMode mode, QWidget* parent)
    : QDialog(parent),
      m_classic(new QRadioButton(QStringLiteral("经典模式（按原有的结果页格式搜索，http）"))),
      m_live(new QRadioButton(
          QStringLiteral("实时模式（按搜索引擎现在的应答方式搜索：https、Cookie、跳转链接）"))),
      m_environmentProxy(
          new QRadioButton(QStringLiteral("按环境变量（http_proxy、https_proxy、no_proxy）"))),
      m_noProxy(new QRadioButton(QStringLiteral("不使用代理"))),
      m_proxy(new QRadioButton(QStringLiteral("使用代理服务器："))),
      m_proxyAddress(new QLineEdit),
      m_rules(new CFileRulesBox(QStringLiteral("文件筛选（新任务的默认值）"))) {
  setObjectName(QStringLiteral("SettingsDlg"));
  setWindowTitle(QStringLiteral("参数设置"));
  m_classic->setObjectName(QStringLiteral("ClassicMode"));
  m_live->setObjectName(QStringLiteral("LiveMode"));
  (mode == quarry::SearchMode::Live ? m_live : m_classic)->setChecked(true);

  auto* group = new QGroupBox(QStringLiteral("搜索模式"));
  auto* choices = new QVBoxLayout(group);
  choices->addWidget(m_classic);
  choices->addWidget(m_live);
  m_environmentProxy->setObjectName(QStringLiteral("EnvironmentProxy"));
  m_noProxy->setObjectName(QStringLiteral("NoProxy"));
  m_proxy->setObjectName(QStringLiteral("Proxy"));
  m_proxyAddress->setObjectName(QStringLiteral("ProxyAddress"));
  m_proxyAddress->setPlaceholderText(
      QStringLiteral("http://[用户名:密码@]主机:端口 或 socks5://[用户名:密码@]主机:端口"));
  m_environmentProxy->setChecked(true);
  m_proxyAddress->setEnabled(false);
  connect(m_proxy, &QRadioButton::toggled, m_proxyAddress, &QLineEdit::setEnabled);
  auto* proxies = new QGroupBox(QStringLiteral("代理服务器"));
  auto* proxyChoices = new QVBoxLayout(proxies);
  proxyChoices->addWidget(m_environmentProxy);
  proxyChoices->addWidget(m_noProxy);
  proxyChoices->addWidget(m_proxy);
  proxyChoices->addWidget(m_proxyAddress);

  auto* note = new QLabel(QStringLiteral(
      "新的设置用于此后开始的任务，文件筛选用于此后添加的任务；正在运行的任务不受影响。"));
  note->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
  connect(buttons, &QDialogButtonBox::accepted, this, &CSettingsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(group);
  layout->addWidget(proxies);
  layout->addWidget(m_rules);
  layout->addWidget(note);
  layout->addWidget(buttons);
  setMinimumWidth(kDialogWidth);
}

quarry::SearchMode CSettingsDlg::Mode() const {
  return m_live->isChecked() ? quarry::SearchMode::Live : quarry::SearchMode::Classic;
}

void CSettingsDlg::SetProxy(const QString& proxy) {
  if (proxy.isEmpty()) {
    m_environmentProxy->setChecked(true);
  } else if (proxy == QLatin1String("none")) {
    m_noProxy->setChecked(true);
  } else {
    m_proxy->setChecked(true);
    m_proxyAddress->setText(proxy);
  }
}

QString CSettingsDlg::Proxy() const {
  if (m_noProxy->isChecked()) return QStringLiteral("none");
  if (m_proxy->isChecked()) return m_proxyAddress->text().trimmed();
  return QString();
}

void CSettingsDlg::SetRules(const quarry::FileRules& rules) { m_rules->SetRules(rules); }

quarry::FileRules CSettingsDlg::Rules() const { return m_rules->Rules(); }

void CSettingsDlg::accept() {
  if (m_proxy->isChecked()) {
    quarry::ProxySetting proxy;
    std::string error;
    const QString text = m_proxyAddress->text().trimmed();
    if (text.isEmpty() || text == QLatin1String("none") ||
        !quarry::ParseProxyUrl(text.toStdString(), &proxy, &error)) {
      QMessageBox::warning(
          this, windowTitle(),
          QStringLiteral("代理服务器地址无效：%1")
              .arg(error.empty() ? QStringLiteral("请填写地址") : QString::fromStdString(error)));
      m_proxyAddress->setFocus();
      return;
    }
  }
  QWidget* fault = nullptr;
  if (const QString refusal = m_rules->Refusal(&fault); !refusal.isEmpty()) {
    QMessageBox::warning(this, windowTitle(), QStringLiteral("文件筛选无效：%1").arg(refusal));
    fault->setFocus();
    return;
  }
  QDialog::accept();
}
