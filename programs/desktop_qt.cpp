#include "programs/desktop_qt.h"

#include <QApplication>
#include <QIcon>

#include "app/main_dialog_ids.h"
#include "app/templates.h"
#include "platform/clock.h"
#include "platform/qt/qt_ui.h"

void setUpDesktopProgram() {
    QApplication::setApplicationName("ZemTabulo");
    QApplication::setWindowIcon(QIcon(":/icons/zemtabulo.png"));
    qtInstallTranslations();
    qtShowHiddenControls(IDD_MAIN, {IDC_START, IDC_ABOUT, IDC_PORT_SETTINGS});
    useClockFromEnvironment();
}
