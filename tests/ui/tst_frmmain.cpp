#include "window.h"
#include "platform/SerialPorts.h"

#include "core/ClockTicker.h"
#include "core/MinuteSchedule.h"
#include "core/Synchroniser.h"
#include "ui/ClockIcon.h"
#include "ui/frmSetting.h"
#include "ui/modSysTray.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

class tst_frmMain : public QObject, protected WindowFixture
{
    Q_OBJECT

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    void init()
    {
        m_trayAvailable = false;
        createWindow("[Settings]\r\nCommPort=" + testDevice("/dev/fake").toLatin1() +
                     "\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n");
    }

    void cleanup() { delete m_window; }

    // The window of a service says so; a user who may not change the service is told why
    // at SYNC NOW and at Setting, and asks the service for nothing.
    void aServiceShownToAUserWhoMayNotChangeIt()
    {
        delete m_window;
        FakeChannel channel;
        createWindow(settingsBytes(), {}, &channel);
        QVERIFY(m_window->load());
        QCOMPARE(m_window->windowTitle(), QStringLiteral("KV7R/9R Orvantide (service)"));
        channel.hear("may 0 only%20root\n");
        child<QPushButton>("cmdSync")->click();
        m_window->mnuSettingClick();
        QVERIFY(!m_window->settingsDialog());
        QCOMPARE(m_boxes.shown.size(), 2);
        QCOMPARE(m_boxes.shown.at(0).text, QStringLiteral("only root"));
        QCOMPARE(m_boxes.shown.at(1).text, QStringLiteral("only root"));
        QCOMPARE(channel.sent, QByteArrayList());
        QCOMPARE(m_link.opened, QStringList()); // the port is the service's
    }

    void windowAndMenus()
    {
        QCOMPARE(m_window->objectName(), QStringLiteral("frmMain"));
        QCOMPARE(m_window->windowTitle(), QStringLiteral("KV7R/9R Orvantide"));
        QCOMPARE(m_window->centralWidget()->palette().color(QPalette::Window),
                 QColor(192, 192, 255));
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(!m_window->windowIcon().isNull());
        QCOMPARE(child<QAction>("mnuSetting")->text(), QStringLiteral("&Setting"));
        QCOMPARE(child<QMenu>("mPopupSys")->title(), QStringLiteral("SysTray"));
        QCOMPARE(child<QAction>("mnuRestore")->text(), QStringLiteral("Restore"));
        QCOMPARE(child<QAction>("mnuExit")->text(), QStringLiteral("Exit"));
        const QList<QAction *> popup = child<QMenu>("mPopupSys")->actions();
        QCOMPARE(popup,
                 (QList<QAction *>{child<QAction>("mnuRestore"), child<QAction>("mnuExit")}));
        auto *clock = child<QLabel>("lblClk");
        QCOMPARE(clock->palette().color(QPalette::WindowText), QColor(Qt::red));
        QVERIFY(clock->font().bold());
        // A substitute font is made small enough for the clock to fit.
        QVERIFY(QFontMetrics(clock->font()).horizontalAdvance(QStringLiteral("00:00:00")) <=
                clock->width());
    }

    // The settings are reached without a mouse, as in other programs.
    void keyboardReachesTheSettings_data()
    {
        QTest::addColumn<QList<QKeyCombination>>("keys");
        QTest::newRow("Alt+S") << QList<QKeyCombination>{Qt::ALT | Qt::Key_S};
        QTest::newRow("F10, Enter")
            << QList<QKeyCombination>{QKeyCombination(Qt::Key_F10), QKeyCombination(Qt::Key_Return)};
    }

    void keyboardReachesTheSettings()
    {
        QFETCH(QList<QKeyCombination>, keys);
        QVERIFY(m_window->load());
        m_window->show();
        m_window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        for (const QKeyCombination key : keys)
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget()
                                                        : static_cast<QWidget *>(m_window),
                            key.key(), key.keyboardModifiers());
        QVERIFY(m_window->settingsDialog());
    }

    void syncNow_data()
    {
        QTest::addColumn<QString>("openError");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("port open") << "" << 2 << "Last Sync at 07/12/2026 14:05:09"
                                   << "";
        QTest::newRow("port closed") << "Could not open /dev/fake: gone" << 0 << "Port Not Open"
                                     << "Could not open /dev/fake: gone";
    }

    void syncNow()
    {
        QFETCH(QString, openError);
        QFETCH(int, frames);
        QFETCH(QString, status);
        QFETCH(QString, tooltip);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        m_link.openError = openError;
        QVERIFY(m_window->load());
        m_window->show();
        QTest::mouseClick(child<QPushButton>("cmdSync"), Qt::LeftButton);
        reachSlot();
        QCOMPARE(m_link.written.size(), frames > 0 ? 1 : 0);
        QCOMPARE(m_link.written.value(0).size(), frames * 6);
        QCOMPARE(child<QLabel>("lblStamp")->text(), status);
        QCOMPARE(child<QLabel>("lblStamp")->toolTip(), tooltip);
        QLocale::setDefault(QLocale::system());
    }

    void tooltipsSayHowThingsStand_data()
    {
        QTest::addColumn<QString>("openError");
        QTest::addColumn<bool>("clockUnsynchronised");
        QTest::addColumn<QString>("iconTip");
        QTest::addColumn<QString>("statusTip");
        QTest::addColumn<bool>("warningMark");
        const QString warning = "The PC clock is not synchronised to a time source (since "
                                "07/12/2026 14:05); the display follows it all the same.";
        QTest::newRow("synced") << "" << false << "Orvantide\nLast Sync at 07/12/2026 14:05:09"
                                << "" << false;
        QTest::newRow("port not open")
            << "Could not open /dev/fake: gone" << false
            << "Orvantide\nPort Not Open\nCould not open /dev/fake: gone"
            << "Could not open /dev/fake: gone" << true;
        QTest::newRow("synced, PC clock adrift")
            << "" << true << "Orvantide\nLast Sync at 07/12/2026 14:05:09\n" + warning << warning
            << true;
        QTest::newRow("port not open, PC clock adrift")
            << "Could not open /dev/fake: gone" << true
            << "Orvantide\nPort Not Open\nCould not open /dev/fake: gone\n" + warning
            << "Could not open /dev/fake: gone\n\n" + warning << true;
    }

    // The icon's tooltip and the status line's say how things stand, the PC clock's own
    // synchronisation among them; the icon wears a warning mark while either needs the user.
    void tooltipsSayHowThingsStand()
    {
        QFETCH(QString, openError);
        QFETCH(bool, clockUnsynchronised);
        QFETCH(QString, iconTip);
        QFETCH(QString, statusTip);
        QFETCH(bool, warningMark);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        m_trayAvailable = true;
        m_link.openError = openError;
        QVERIFY(m_window->load());
        reachSlot();
        if (clockUnsynchronised)
            m_window->showPcClockState(m_clock.now());
        m_window->tray().addIcon();
        QCOMPARE(m_window->tray().trayIcon()->toolTip(), iconTip);
        QCOMPARE(child<QLabel>("lblStamp")->toolTip(), statusTip);
        const auto picture = [](const QIcon &icon) { return icon.pixmap(32).toImage(); };
        QCOMPARE(picture(m_window->tray().trayIcon()->icon()), picture(clockIcon(warningMark)));
        // Mended, the mark goes.
        m_window->showPcClockState({});
        m_window->showSynced(m_clock.now());
        QCOMPARE(picture(m_window->tray().trayIcon()->icon()), picture(clockIcon(false)));
        QLocale::setDefault(QLocale::system());
    }

    // The icon says when a busy PC may make the display late, and nothing when it may not.
    void iconSaysWhenABusyPcMakesTheDisplayLate()
    {
        m_trayAvailable = true;
        QVERIFY(m_window->load());
        reachSlot();
        const QString synced = m_window->tray().trayIcon()->toolTip();
        m_window->showWriterScheduling(false);
        QCOMPARE(m_window->tray().trayIcon()->toolTip(),
                 synced + "\nWhen the PC is busy, the display may be set some milliseconds late.");
        m_window->showWriterScheduling(true);
        QCOMPARE(m_window->tray().trayIcon()->toolTip(), synced);
    }

    // The display lost and found again, with the window behind its icon: one notification
    // each, however often the port is tried in between or synchronised after.
    void notificationsOnePerChange()
    {
        m_trayAvailable = true;
        QVERIFY(m_window->load());
        reachSlot();
        QSignalSpy notified(&m_window->tray(), &modSysTray::notified);
        const QString gone = QStringLiteral("Could not open /dev/fake: No such file or directory");
        for (int i = 0; i < 3; ++i)
            m_window->showPortNotOpen(gone);
        m_window->showPortLent();
        for (int i = 0; i < 3; ++i)
            m_window->showSynced(m_clock.now());
        m_window->showPortNotOpen(gone);
        QCOMPARE(notified.size(), 3);
        QCOMPARE(notified.at(0).at(0).toString(), QStringLiteral("The display is not reached"));
        QVERIFY(notified.at(0).at(1).toString().startsWith(gone));
        QCOMPARE(notified.at(1).at(0).toString(), QStringLiteral("The display is reached again"));
        QCOMPARE(notified.at(2).at(0).toString(), QStringLiteral("The display is not reached"));
    }

    void syncTimeText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("en_US") << "en_US"
                               << "12/7/26 10:03:07 AM";
        QTest::newRow("de_DE") << "de_DE"
                               << "07.12.26 10:03:07";
        QTest::newRow("fi_FI: dots") << "fi_FI"
                                     << "7.12.2026 10.03.07";
        QTest::newRow("zh_CN: zone first") << "zh_CN"
                                           << "2026/12/7 10:03:07";
        QTest::newRow("fr_CA: quoted words") << "fr_CA"
                                             << "2026-12-07 10 h 03 min 07 s";
    }

    // Two syncs in one minute are told apart: the status line's time has its seconds, in
    // the user's locale, without the time zone.
    void syncTimeText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QCOMPARE(
            frmMain::syncTimeText(QDateTime(QDate(2026, 12, 7), QTime(10, 3, 7)), QLocale(locale)),
            text);
    }

    void startUpSyncsOnceThenGivesWay_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("behind the notification icon") << true;
        QTest::newRow("minimised on the taskbar without a notification area") << false;
    }

    // The window is withdrawn without first being made iconic: a window manager that
    // marks an iconic window hidden late would keep it iconic when restored, and the first
    // click on the icon would seem to do nothing.
    void startUpSyncsOnceThenGivesWay()
    {
        QFETCH(bool, tray);
        m_trayAvailable = tray;
        QVERIFY(m_window->load());
        QVERIFY(m_window->isVisible());
        reachSlot();
        QCOMPARE(m_link.written.size(), 1);
        QCOMPARE(child<QLabel>("lblClk")->text(), QStringLiteral("14:05:08"));
        QCOMPARE(m_window->isVisible(), !tray);
        QCOMPARE(m_window->tray().iconData().added, tray);
        QCOMPARE(bool(m_window->windowState() & Qt::WindowMinimized), !tray);
        if (tray) {
            QSystemTrayIcon *icon = m_window->tray().trayIcon();
            QVERIFY(icon->toolTip().startsWith(QLatin1String("Orvantide\nLast Sync at ")));
            QVERIFY(!icon->icon().isNull());
            QVERIFY(icon->contextMenu() == child<QMenu>("mPopupSys"));
        }
    }

    void loadWithAbsentPortStaysOnScreen()
    {
        m_link.openError = QStringLiteral("Could not open /dev/fake: No such file or directory");
        QVERIFY(m_window->load());
        reachSlot();
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
        auto *stamp = child<QLabel>("lblStamp");
        QCOMPARE(stamp->text(), QStringLiteral("Port Not Open"));
        QCOMPARE(stamp->toolTip(), m_link.openError);
        // The clock keeps running.
        m_clock.set(QTime(21, 5, 7));
        m_window->findChild<QTimer *>(QStringLiteral("Timer1"))->start(0);
        QTRY_COMPARE(child<QLabel>("lblClk")->text(), QStringLiteral("21:05:07"));
    }

    void loadWithBadSettingsTellsTheUser()
    {
        writeSettings(
            "[Settings]\r\nCommPort=x\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=60\r\n");
        QVERIFY(!m_window->load());
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.first().icon, QMessageBox::Critical);
        QCOMPARE(m_boxes.shown.first().title, QStringLiteral("Orvantide"));
        QVERIFY2(m_boxes.shown.first().text.contains(QLatin1String("key CommPort: \"x\"")),
                 qPrintable(m_boxes.shown.first().text));
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_link.opened.isEmpty());
    }

    void startUpRecordsTheRegistration_data()
    {
        QTest::addColumn<QString>("registered");
        QTest::addColumn<bool>("answer");
        QTest::newRow("none") << "" << false;
        QTest::newRow("this program") << m_dir.filePath("orvantide") + " -systray" << true;
        QTest::newRow("another folder") << "/elsewhere/orvantide -systray" << false;
    }

    // Start-up asks whether the program is registered and only records the answer: the
    // settings dialog stays unloaded, the port stays open and nothing is written.
    void startUpRecordsTheRegistration()
    {
        QFETCH(QString, registered);
        QFETCH(bool, answer);
        m_store.value = registered;
        QVERIFY(m_window->load());
        reachSlot();
        QCOMPARE(m_window->registeredAtStartUp(), answer);
        QVERIFY(!m_window->settingsDialog());
        QVERIFY(m_link.isOpen());
        QCOMPARE(m_store.changes, 0);
    }

    void trayRestoreAndMinimise()
    {
        m_trayAvailable = true;
        QVERIFY(m_window->load());
        reachSlot();
        QSystemTrayIcon *icon = m_window->tray().trayIcon();

        // A right click opens the menu only.
        emit icon->activated(QSystemTrayIcon::Context);
        QVERIFY(!m_window->isVisible());

        emit icon->activated(QSystemTrayIcon::Trigger);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
        QVERIFY(!m_window->tray().iconData().added);

        m_window->setWindowState(Qt::WindowMinimized);
        QVERIFY(!m_window->isVisible());
        QVERIFY(m_window->tray().iconData().added);
        QVERIFY(icon->isVisible());

        child<QAction>("mnuRestore")->trigger();
        QVERIFY(m_window->isVisible());
        QVERIFY(!icon->isVisible());

        // A click that Qt takes for the second of a double click (a quick click at the
        // spot of the last one) restores as well.
        m_window->setWindowState(Qt::WindowMinimized);
        QVERIFY(!m_window->isVisible());
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(m_window->isVisible());

        m_window->setWindowState(Qt::WindowMinimized);
        QVERIFY(!m_window->isVisible());
        // Still the one icon.
        QCOMPARE(m_window->findChildren<QSystemTrayIcon *>().size(), 1);
        QVERIFY(icon->isVisible());
    }

    // At log-in the program may start before the panel: the window waits on the taskbar
    // and hides behind the icon once a notification area turns up.
    void notificationAreaAppearingLater()
    {
        QVERIFY(m_window->load());
        reachSlot();
        QVERIFY(m_window->isMinimized());
        auto *check = child<QTimer>("trayCheck");
        QVERIFY(check->isActive());
        check->start(0);
        QTRY_VERIFY(check->isActive() && check->interval() > 0); // not yet: looks again later
        QVERIFY(m_window->isVisible());

        m_trayAvailable = true;
        check->start(0);
        QTRY_VERIFY(!m_window->isVisible());
        QVERIFY(m_window->tray().iconData().added);
        QVERIFY(!check->isActive());
        m_window->tray().trayIcon()->activated(QSystemTrayIcon::Trigger);
        QVERIFY(m_window->isVisible());
        QVERIFY(!m_window->isMinimized());
    }

    void notificationAreaNeverAppearing()
    {
        QVERIFY(m_window->load());
        reachSlot();
        auto *check = child<QTimer>("trayCheck");
        int total = 0;
        int checks = 0;
        while (check->isActive() && checks < 20) {
            total += check->interval();
            ++checks;
            check->start(0);
            QTRY_VERIFY(!check->isActive() || check->interval() > 0);
        }
        // A few looks within the first minute, then no more.
        QVERIFY2(checks >= 3 && checks < 20, qPrintable(QString::number(checks)));
        QVERIFY2(total <= 60000, qPrintable(QString::number(total)));
        QVERIFY(m_window->isMinimized());
    }

    void settingOpensOneDialog()
    {
        QVERIFY(m_window->load());
        reachSlot();
        child<QAction>("mnuSetting")->trigger();
        QPointer<frmSetting> first = m_window->settingsDialog();
        QVERIFY(first);
        QVERIFY(first->isVisible());
        child<QAction>("mnuSetting")->trigger();
        QCOMPARE(m_window->settingsDialog(), first.data());
        QCOMPARE(m_window->findChildren<frmSetting *>().size(), 1);
        // Closed, it is unloaded; the next click loads a new one.
        // A minimised dialog is brought back, not left on the taskbar.
        first->showMinimized();
        child<QAction>("mnuSetting")->trigger();
        QVERIFY(first->isVisible());
        QVERIFY(!first->isMinimized());
        first->close();
        QTRY_VERIFY(!first);
        child<QAction>("mnuSetting")->trigger();
        QVERIFY(m_window->settingsDialog());
    }

    // A log-out ends the program while a box waits for an answer (a failed save's).
    void endingNowAnswersNoBox()
    {
        QVERIFY(m_window->load());
        reachSlot();
        MessageBoxes shownForReal;
        bool leftOpen = false;
        QTimer::singleShot(0, m_window, &frmMain::endNow);
        QTimer::singleShot(10000, m_window, [&] {
            leftOpen = QApplication::activeModalWidget();
            if (leftOpen)
                QApplication::activeModalWidget()->hide();
        });
        shownForReal.warning(m_window, QStringLiteral("The settings were not saved."));
        QVERIFY(!leftOpen);
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_window->isVisible());
    }

    void exitClosesThePort()
    {
        m_trayAvailable = true;
        QVERIFY(m_window->load());
        reachSlot();
        QVERIFY(m_link.isOpen());
        QVERIFY(m_window->tray().iconData().added);
        child<QAction>("mnuExit")->trigger();
        QVERIFY(!m_window->tray().iconData().added);
        QVERIFY(!m_link.isOpen());
        QVERIFY(!m_window->isVisible());
        QVERIFY(!m_window->findChild<QTimer *>(QStringLiteral("Timer2"))->isActive());
    }
};

QTEST_MAIN(tst_frmMain)
#include "tst_frmmain.moc"
