// CSettingsDlg: the dialog of the "参数设置(&P)" command. It holds the program's settings: how
// tasks search the service, in the classic mode that the program's result pages were made for,
// or in the live mode that speaks to the service as it answers today; and the proxy of their
// requests (the environment's, none, or an HTTP or SOCKS5 proxy); and the file filters new tasks
// start from. The choices apply to the tasks started (the filters: added) after them; the frame
// keeps them in sys/quarry.ini. OK refuses a proxy address that does not read and filters that
// cannot hold (a largest size below the least), with a message.
#pragma once

#include <QDialog>

#include "engine/task.h"
#include "records/file_facts.h"

class CFileRulesBox;
class QLineEdit;
class QRadioButton;

class CSettingsDlg : public QDialog {
  Q_OBJECT

public:
  // A dialog showing `mode` as the current choice.
  explicit CSettingsDlg(quarry::SearchMode mode, QWidget* parent = nullptr);

  // The mode chosen (read after OK).
  quarry::SearchMode Mode() const;

  // The proxy shown: empty for the environment's, "none", or an address.
  void SetProxy(const QString& proxy);
  // The proxy chosen (read after OK), in the same form.
  QString Proxy() const;

  // The default filters of new tasks shown, and those chosen (read after OK).
  void SetRules(const quarry::FileRules& rules);
  quarry::FileRules Rules() const;

  QRadioButton* ClassicButton() const { return m_classic; }
  QRadioButton* LiveButton() const { return m_live; }
  QRadioButton* EnvironmentProxyButton() const { return m_environmentProxy; }
  QRadioButton* NoProxyButton() const { return m_noProxy; }
  QRadioButton* ProxyButton() const { return m_proxy; }
  QLineEdit* ProxyBox() const { return m_proxyAddress; }
  CFileRulesBox* RulesBox() const { return m_rules; }

public slots:
  void accept() override;

private:
  QRadioButton* m_classic;
  QRadioButton* m_live;
  QRadioButton* m_environmentProxy;
  QRadioButton* m_noProxy;
  QRadioButton* m_proxy;
  QLineEdit* m_proxyAddress;
  CFileRulesBox* m_rules;
};
