#pragma once
// What the window tests share: a main window on fake port, clock and autostart store,
// reading its settings from a folder of the test's own, with message boxes recorded.

#include "core/fakes.h"
#include "files.h"

#include "core/modINI.h"
#include "core/modVariables.h"
#include "integration/RunOnWSU.h"
#include "ui/MessageBox.h"
#include "ui/frmMain.h"

#include <QTemporaryDir>
#include <QtTest>

class WindowFixture
{
protected:
    QTemporaryDir m_dir;
    modVariables m_vars;
    FakeLink m_link;
    FakeClock m_clock;
    FakeAutostartStore m_store;
    RunOnWSU m_run{m_store, QStringLiteral("orvantide")};
    QList<MessageBox::Shown> m_boxes;
    frmMain *m_window = nullptr;

    /// Points the program at the test's folder and records message boxes.
    void setUpFixture()
    {
        modINI::setAppFolder(m_dir.path());
        MessageBox::setRecorder(&m_boxes);
    }

    /// Fresh fakes and settings, and a new window on them (not yet loaded).
    void createWindow(const QByteArray &settings)
    {
        m_vars = modVariables();
        m_link = FakeLink();
        m_clock = FakeClock();
        m_store = FakeAutostartStore();
        m_boxes.clear();
        writeSettings(settings);
        m_window = new frmMain(m_vars, m_link, m_clock, m_run);
    }

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
