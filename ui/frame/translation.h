// The window speaks Chinese only: Qt's own texts (the standard buttons of message boxes and
// button boxes, the file dialog, the context menus of text boxes) come from Qt's Chinese
// translation, which Debian ships in qt6-translations-l10n.
#pragma once

class QCoreApplication;

namespace quarry {

// Installs Qt's Simplified Chinese translation into `app`. False when the translation is not
// installed: Qt's texts then stay English.
bool InstallChineseTranslation(QCoreApplication& app);

}  // namespace quarry
