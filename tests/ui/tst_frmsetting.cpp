#include "platform/pty.h"
#include "window.h"

#include "core/Synchroniser.h"
#include "ui/frmSetting.h"
#include "ui/modSysTray.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const QByteArray kDelivered("[Settings]\r\nCommPort=/dev/fake\r\nSetting=9600,N,8,1\r\n"
                            "SyncInt=2\r\n\r\n[Sync]\r\nInterval=60\r\n");

} // namespace

class tst_frmSetting : public QObject, protected WindowFixture
{
    Q_OBJECT

    frmSetting *openDialog()
    {
        m_window->findChild<QAction *>(QStringLiteral("mnuSetting"))->trigger();
        return m_window->settingsDialog();
    }

    QTimer *timer2() const { return m_window->findChild<QTimer *>(QStringLiteral("Timer2")); }

private slots:
    void initTestCase()
    {
        setUpFixture();
        modSysTray::setAvailableOverride(false);
    }

    void init()
    {
        createWindow(kDelivered);
        QVERIFY(m_window->load());
        reachSlot(m_window->core(), m_clock);
        m_link.written.clear();
    }

    void cleanup()
    {
        delete m_window;
        modINI::setAppFolder(m_dir.path());
    }

    void layout()
    {
        frmSetting *dialog = openDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog->size(), QSize(344, 140));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(child<QGroupBox>(dialog, "Frame1")->title(),
                 QStringLiteral("Serial Port Settings"));
        QCOMPARE(child<QGroupBox>(dialog, "Frame2")->title(), QStringLiteral("Sync Interval"));
        QCOMPARE(child<QPushButton>(dialog, "cmdSet")->text(), QStringLiteral("SET"));
        QCOMPARE(child<QCheckBox>(dialog, "ChkRWSU")->text(),
                 QStringLiteral("Run On Windows Startup"));
        QCOMPARE(child<QComboBox>(dialog, "cboCOM")->geometry(), QRect(48, 24, 41, 21));
        // Keyboard order: port, interval, SET, run at login.
        auto *com = child<QComboBox>(dialog, "cboCOM");
        QWidget *w = com;
        QStringList order;
        for (int i = 0; i < 50 && order.size() < 3; ++i) {
            w = w->nextInFocusChain();
            if (!w->objectName().isEmpty() && (w->focusPolicy() & Qt::TabFocus) &&
                !order.contains(w->objectName()))
                order << w->objectName();
        }
        QCOMPARE(order, (QStringList{"cboSync", "cmdSet", "ChkRWSU"}));
    }

    void loadStopsTheScheduleAndFillsTheLists_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("index");
        QTest::newRow("1") << 1 << 0;
        QTest::newRow("30") << 30 << 1;
        QTest::newRow("60") << 60 << 2;
        QTest::newRow("720") << 720 << 3;
        QTest::newRow("15 selects nothing") << 15 << -1;
    }

    void loadStopsTheScheduleAndFillsTheLists()
    {
        QFETCH(int, interval);
        QFETCH(int, index);
        m_vars.SyncInterval = qint16(interval);
        QVERIFY(timer2()->isActive());
        QVERIFY(m_link.isOpen());

        frmSetting *dialog = openDialog();
        QVERIFY(!timer2()->isActive());
        QVERIFY(!m_link.isOpen());
        auto *com = child<QComboBox>(dialog, "cboCOM");
        QStringList ports;
        for (int i = 0; i < com->count(); ++i)
            ports << com->itemText(i);
        QCOMPARE(ports.mid(0, 6), (QStringList{"1", "2", "3", "4", "5", "6"}));
        QVERIFY(!ports.mid(6).contains("/dev/ttyS0"));
        QCOMPARE(com->currentText(), QStringLiteral("/dev/fake"));
        auto *sync = child<QComboBox>(dialog, "cboSync");
        QCOMPARE(sync->count(), 4);
        QCOMPARE(sync->itemText(3), QStringLiteral("12 hours"));
        QCOMPARE(sync->currentIndex(), index);
    }

    void set_data()
    {
        QTest::addColumn<int>("startInterval");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("storedInterval");
        QTest::newRow("hour") << 720 << 2 << "/dev/fake"
                              << "60";
        QTest::newRow("minute") << 60 << 0 << "/dev/fake"
                                << "1";
        QTest::newRow("12 hours") << 30 << 3 << "/dev/fake"
                                  << "720";
        QTest::newRow("15 kept without a selection") << 15 << -1 << "/dev/fake"
                                                     << "15";
        QTest::newRow("typed port above 6") << 60 << 1 << "9"
                                            << "30";
    }

    void set()
    {
        QFETCH(int, startInterval);
        QFETCH(int, index);
        QFETCH(QString, port);
        QFETCH(QString, storedInterval);
        m_vars.SyncInterval = qint16(startInterval);
        for (int i = 0; i < 5; ++i)
            m_window->core().Timer2Tick();
        QVERIFY(m_vars.MinuteCount != 0);

        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboSync")->setCurrentIndex(index);
        child<QComboBox>(dialog, "cboCOM")->setEditText(port);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);

        QCOMPARE(modINI::ReadINI("Sync", "Interval"), storedInterval);
        QCOMPARE(QString::number(m_vars.SyncInterval), storedInterval);
        QCOMPARE(m_vars.CommPortText, port);
        QCOMPARE(m_vars.MinuteCount, qint16(0));
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, QMessageBox::Information);
        QCOMPARE(m_boxes.first().text, QStringLiteral("Settings Done"));
        // The port is stored when the dialog closes, not before.
        QCOMPARE(modINI::ReadINI("Settings", "CommPort"), QStringLiteral("/dev/fake"));
        dialog->close();
        QCOMPARE(modINI::ReadINI("Settings", "CommPort"), port);
        QCOMPARE(modINI::ReadINI("Settings", "SyncInt"), QString::number(index));
    }

    void closingWithoutSetStoresPortAndIndexOnly()
    {
        m_vars.SyncInterval = 15;
        frmSetting *dialog = openDialog();
        dialog->close();
        QCOMPARE(settingsBytes(),
                 QByteArray("[Settings]\r\nCommPort=/dev/fake\r\nSetting=9600,N,8,1\r\n"
                            "SyncInt=-1\r\n\r\n[Sync]\r\nInterval=60\r\n"));
        QVERIFY(m_boxes.isEmpty());
    }

    // Closing the dialog opens the port it names, restarts the schedule and sends a frame,
    // so a changed port takes effect at once and the status line shows whether it works.
    void closingReopensThePortAndSyncs()
    {
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboCOM")->setEditText("/dev/other");
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        dialog->close();
        reachSlot(m_window->core(), m_clock);
        QCOMPARE(m_link.opened.last(), QStringLiteral("/dev/other"));
        QVERIFY(m_link.isOpen());
        QCOMPARE(m_link.written.size(), 1);
        QVERIFY(timer2()->isActive());
        QVERIFY(m_window->findChild<QLabel *>("lblStamp")->text().startsWith("Last Sync at "));
    }

    // The same on a real pseudo-terminal: the frame arrives once the dialog is closed.
    void closingSendsAFrameToThePty()
    {
        Pty pty;
        QtSerialLink link;
        modVariables vars;
        writeSettings(QByteArray(kDelivered).replace("/dev/fake", pty.path.toUtf8()));
        frmMain window(vars, link, m_clock, m_run);
        QVERIFY(window.load());
        reachSlot(window.core(), m_clock);
        QCOMPARE(pty.read(6).size(), 6);

        window.findChild<QAction *>(QStringLiteral("mnuSetting"))->trigger();
        QVERIFY(!link.isOpen());
        window.settingsDialog()->close();
        const QDateTime second = window.core().pendingSecond();
        reachSlot(window.core(), m_clock);
        const QByteArray frame = QByteArray::fromHex("fe10") + char(second.time().second()) +
                                 char(second.time().minute()) + char(second.time().hour()) +
                                 char(0xFF);
        QCOMPARE(pty.read(6), frame);
        QVERIFY(window.findChild<QTimer *>(QStringLiteral("Timer2"))->isActive());
    }

    void closingWithAnUnusablePortSaysWhy()
    {
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboCOM")->setEditText("COM3");
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        dialog->close();
        auto *stamp = m_window->findChild<QLabel *>("lblStamp");
        QCOMPARE(stamp->text(), QStringLiteral("Port Not Open"));
        QCOMPARE(stamp->toolTip(), QStringLiteral("\"COM3\" names no serial port."));
        QVERIFY(timer2()->isActive());
    }

    // "Settings Done" appears only when the file was written; a failed write warns and
    // names the file and the reason.
    void failedWritesWarn()
    {
        frmSetting *dialog = openDialog();
        // A file where the settings folder should be.
        const QString notAFolder = m_dir.filePath("not-a-folder");
        QVERIFY(writeFile(notAFolder, QByteArray()));
        modINI::setAppFolder(notAFolder);

        child<QComboBox>(dialog, "cboSync")->setCurrentIndex(0);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.at(0).icon, QMessageBox::Warning);
        QVERIFY2(m_boxes.at(0).text.contains(notAFolder + "/orvtide.ini"),
                 qPrintable(m_boxes.at(0).text));

        dialog->close();
        QCOMPARE(m_boxes.size(), 2);
        QCOMPARE(m_boxes.at(1).icon, QMessageBox::Warning);
        QVERIFY(m_boxes.at(1).text.contains(notAFolder + "/orvtide.ini"));
    }

    void checkBoxShowsTheRegistration_data()
    {
        QTest::addColumn<QString>("registered");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("none") << "" << false;
        QTest::newRow("this program") << m_dir.path() + "/orvantide -systray" << true;
        QTest::newRow("another folder") << "/elsewhere/orvantide -systray" << false;
        QTest::newRow("other letter case")
            << m_dir.path().toUpper() + "/ORVANTIDE -systray" << false;
    }

    // Every load shows the registration as it is; ticking the box from the program writes nothing.
    void checkBoxShowsTheRegistration()
    {
        QFETCH(QString, registered);
        QFETCH(bool, ticked);
        m_store.value = registered;
        frmSetting *dialog = openDialog();
        QCOMPARE(child<QCheckBox>(dialog, "ChkRWSU")->isChecked(), ticked);
        dialog->close();
        QTRY_VERIFY(!m_window->settingsDialog());
        dialog = openDialog();
        QCOMPARE(child<QCheckBox>(dialog, "ChkRWSU")->isChecked(), ticked);
        QCOMPARE(m_store.changes, 0);
    }

    void clickingTheCheckBoxRegisters()
    {
        frmSetting *dialog = openDialog();
        auto *box = child<QCheckBox>(dialog, "ChkRWSU");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(box->isChecked());
        QCOMPARE(m_store.value, m_dir.path() + "/orvantide -systray");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(!box->isChecked());
        QCOMPARE(m_store.value, QString());
        QVERIFY(m_boxes.isEmpty());
    }

    // A refused registration puts the box back to what is registered and says why.
    void refusedRegistrationPutsTheBoxBack()
    {
        m_store.refusal = "Cannot create the autostart folder \"/x/autostart\".";
        frmSetting *dialog = openDialog();
        auto *box = child<QCheckBox>(dialog, "ChkRWSU");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(!box->isChecked());
        QCOMPARE(m_boxes.size(), 1);
        QCOMPARE(m_boxes.first().icon, QMessageBox::Warning);
        QVERIFY(m_boxes.first().text.contains(m_store.refusal));
    }

    void exitWithTheDialogOpenStoresItsSettings()
    {
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboCOM")->setEditText("4");
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        m_window->findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(modINI::ReadINI("Settings", "CommPort"), QStringLiteral("4"));
        QVERIFY(!m_link.isOpen());
        QVERIFY(m_link.written.isEmpty());
    }
};

QTEST_MAIN(tst_frmSetting)
#include "tst_frmsetting.moc"
