// CSettingsDlg: the dialog of the "参数设置(&P)" command. It holds the one setting the program
// has: how tasks search the service, in the classic mode that the program's result pages were
// made for, or in the live mode that speaks to the service as it answers today. The choice
// applies to the tasks started after it; the frame keeps it in sys/quarry.ini.
#pragma once

#include <QDialog>

#include "engine/task.h"

class QRadioButton;

class CSettingsDlg : public QDialog {
  Q_OBJECT

public:
  // A dialog showing `mode` as the current choice.
  explicit CSettingsDlg(quarry::SearchMode mode, QWidget* parent = nullptr);

  // The mode chosen (read after OK).
  quarry::SearchMode Mode() const;

  QRadioButton* ClassicButton() const { return m_classic; }
  QRadioButton* LiveButton() const { return m_live; }

private:
  QRadioButton* m_classic;
  QRadioButton* m_live;
};
