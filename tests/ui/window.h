#pragma once
// What the window tests share: a main window on fake port, clock and autostart store,
// reading its settings from a folder of the test's own, with message boxes recorded.

#include "core/fakes.h"
#include "files.h"

#include "core/Synchroniser.h"

#include "platform/ProfileFile.h"
#include "platform/RunOnWSU.h"
#include "ui/MessageBox.h"
#include "ui/frmMain.h"

#include <QTemporaryDir>
#include <QtTest>

/// Records message boxes instead of showing them.
class RecordingBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
    };
    QList<Shown> shown;

protected:
    void show(QWidget *, QMessageBox::Icon icon, const QString &text) override
    {
        shown.append({icon, kTitle, text});
    }
};

class WindowFixture
{
protected:
    QTemporaryDir m_dir;
    FakeLink m_link;
    FakeClock m_clock;
    FakeAutostartStore m_store;
    RunOnWSU m_run{m_store, m_dir.filePath(QStringLiteral("orvantide"))};
    std::unique_ptr<ProfileSettingsStore> m_settingsStore;
    RecordingBoxes m_boxes;
    bool m_trayAvailable = false; ///< whether the desktop has a notification area
    QList<PortChoice> m_systemPorts; ///< the serial ports the system reports
    FakeDeviceWatch m_deviceWatch;   ///< every device there unless a test says otherwise
    frmMain *m_window = nullptr;

    /// Fresh fakes and settings, and a new window on them (not yet loaded). The settings
    /// are kept in `settingsPath`, the test's own file by default.
    /// With `service`, the window shows the service that line leads to.
    void createWindow(const QByteArray &settings, const QString &settingsPath = {},
                      ServiceChannel *service = nullptr)
    {
        m_link = FakeLink();
        m_clock = FakeClock();
        m_store = FakeAutostartStore();
        m_boxes.shown.clear();
        writeSettings(settings);
        m_settingsStore = std::make_unique<ProfileSettingsStore>(
            settingsPath.isEmpty() ? iniPath() : settingsPath);
        WindowParts parts{m_link,  m_clock, m_run, *m_settingsStore, m_boxes,
                          [this] { return m_systemPorts; }, [this] { return m_trayAvailable; },
                          FrameWriter::Threading::Caller};
        m_deviceWatch = FakeDeviceWatch();
        m_deviceWatch.present = true;
        parts.deviceWatch = &m_deviceWatch;
        parts.service = service;
        m_window = new frmMain(parts);
    }

    void reachSlot() { ::reachSlot(m_window->core().writer(), m_clock); }

    QString iniPath() const { return m_dir.filePath(QStringLiteral("orvtide.ini")); }
    void writeSettings(const QByteArray &content) { QVERIFY(writeFile(iniPath(), content)); }
    QByteArray settingsBytes() const { return readFile(iniPath()); }

    /// The named child of `parent`; the test ends at once when there is none.
    template <typename T> static T *child(const QObject *parent, const char *name)
    {
        T *found = parent->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }
    template <typename T> T *child(const char *name) const { return child<T>(m_window, name); }
};
