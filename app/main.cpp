#include "core/Clock.h"
#include "core/modVariables.h"
#include "integration/RunOnWSU.h"
#include "platform/AutostartStore.h"
#include "platform/SerialLink.h"
#include "ui/frmMain.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvantide"));
    // The program lives on in the notification area with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    modVariables settings;
    QtSerialLink link;
    SystemClock clock;
    const std::unique_ptr<AutostartStore> autostart =
        createAutostartStore(QStringLiteral("Orvantide"));
    RunOnWSU runAtLogin(*autostart);
    frmMain window(settings, link, clock, runAtLogin);
    if (!window.load())
        return 2;
    return app.exec();
}
