#include "window.h"
#include "platform/SerialPorts.h"

#include "core/MinuteSchedule.h"
#include "core/SyncIntervals.h"
#include "core/Synchroniser.h"
#include "platform/ProfileFile.h"
#include "ui/Translations.h"
#include "ui/frmSetting.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QAbstractItemView>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTranslator>
#include <QtTest>

namespace {

const QByteArray kDelivered("[Settings]\r\nCommPort=/dev/fake\r\nSetting=9600,N,8,1\r\n"
                            "SyncInt=2\r\n\r\n[Sync]\r\nInterval=60\r\n");

#ifdef Q_OS_WIN
const QString kPortLabel = QStringLiteral("COM");
const QString kRunAtLogin = QStringLiteral("Run On Windows Startup");
const QStringList kNumberedPorts{"1", "2", "3", "4", "5", "6"};
#else
const QString kPortLabel = QStringLiteral("&Port");
const QString kRunAtLogin = QStringLiteral("Run at &login");
const QStringList kNumberedPorts{"1 \u2014 /dev/ttyS0", "2 \u2014 /dev/ttyS1",
                                 "3 \u2014 /dev/ttyS2", "4 \u2014 /dev/ttyS3",
                                 "5 \u2014 /dev/ttyS4", "6 \u2014 /dev/ttyS5"};
#endif

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

    /// A loaded window on `settings`, start-up's frame written and forgotten.
    void startWith(const QByteArray &settings)
    {
        delete m_window;
        createWindow(settings);
        QVERIFY(m_window->load());
        reachSlot();
        m_link.written.clear();
    }

    /// The value stored in the settings file.
    QString stored(const char *section, const char *key) const
    {
        return ProfileFile::readString(iniPath(), QLatin1String(section), QLatin1String(key));
    }

    static QByteArray withInterval(int minutes)
    {
        return QByteArray(kDelivered)
            .replace("Interval=60", "Interval=" + QByteArray::number(minutes));
    }

private slots:
    void initTestCase() { PortNames::setNaming(&systemPortNaming()); }

    void init() { startWith(kDelivered); }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
    }

    void titlesAndKeyboardOrder()
    {
        frmSetting *dialog = openDialog();
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
        QVERIFY(!(dialog->windowFlags() & Qt::WindowMinimizeButtonHint));
        QCOMPARE(child<QGroupBox>(dialog, "Frame1")->title(),
                 QStringLiteral("Serial Port Settings"));
        QCOMPARE(child<QGroupBox>(dialog, "Frame2")->title(), QStringLiteral("Sync Interval"));
        QCOMPARE(child<QPushButton>(dialog, "cmdSet")->text(), QStringLiteral("SET"));
        QCOMPARE(child<QLabel>(dialog, "Label1")->text(), kPortLabel);
        QCOMPARE(child<QCheckBox>(dialog, "ChkRWSU")->text(), kRunAtLogin);
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

    void captionsFitAtTheirPlaces_data()
    {
        QTest::addColumn<double>("fontScale");
        QTest::newRow("the system's font") << 1.0;
        QTest::newRow("a font half as large again") << 1.5;
    }

    // "Run On Windows Startup" cut to "Run On Windows Startu" with the fonts the system
    // substitutes: each caption gets its room; the original places are the minimum.
    void captionsFitAtTheirPlaces()
    {
        QFETCH(double, fontScale);
        const QFont original = QApplication::font();
        QFont font = original;
        font.setPointSizeF(font.pointSizeF() * fontScale);
        QApplication::setFont(font);
        frmSetting *dialog = openDialog();
        QApplication::setFont(original);

        struct Place
        {
            const char *name;
            QPoint twips;
        };
        const Place places[] = {{"Frame1", {360, 360}},  {"Label1", {240, 360}},
                                {"cboCOM", {720, 360}},  {"Frame2", {2280, 360}},
                                {"Label2", {240, 360}},  {"cboSync", {840, 360}},
                                {"cmdSet", {360, 1440}}, {"ChkRWSU", {2280, 1320}}};
        for (const Place &place : places) {
            auto *control = child<QWidget>(dialog, place.name);
            const QPoint minimum = place.twips / 15;
            QVERIFY2(control->x() >= minimum.x() && control->y() == minimum.y(), place.name);
            const int needed = qobject_cast<QGroupBox *>(control)
                                   ? control->minimumSizeHint().width()
                                   : control->sizeHint().width();
            QVERIFY2(control->parentWidget()->rect().contains(control->geometry()), place.name);
            if (qobject_cast<QComboBox *>(control))
                continue;
            // The caption has its room, clear of the next control on its row.
            QVERIFY2(control->width() >= needed, place.name);
            for (const QWidget *other :
                 control->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
                const bool sameRow = other->y() <= control->geometry().bottom() &&
                                     other->geometry().bottom() >= control->y();
                if (other != control && sameRow && other->x() > control->x())
                    QVERIFY2(control->x() + needed <= other->x(),
                             qPrintable(QStringLiteral("%1 runs into %2")
                                            .arg(QLatin1String(place.name), other->objectName())));
            }
        }
        QVERIFY(dialog->width() >= 344);
        QCOMPARE(dialog->height(), 140);
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
        startWith(withInterval(interval));
        QVERIFY(timer2()->isActive());
        QVERIFY(m_link.isOpen());

        frmSetting *dialog = openDialog();
        QVERIFY(!timer2()->isActive());
        QVERIFY(!m_link.isOpen());
        auto *com = child<QComboBox>(dialog, "cboCOM");
        QStringList ports;
        for (int i = 0; i < com->count(); ++i)
            ports << com->itemText(i);
        QCOMPARE(ports.mid(0, 6), kNumberedPorts);
        QCOMPARE(com->itemData(5).toString(), QStringLiteral("6"));
        QVERIFY(!ports.mid(6).contains("/dev/ttyS0"));
        QCOMPARE(com->currentText(), QStringLiteral("/dev/fake"));
        auto *sync = child<QComboBox>(dialog, "cboSync");
        QCOMPARE(sync->count(), 4);
        QCOMPARE(sync->itemText(3), QStringLiteral("12 hours"));
        QCOMPARE(sync->currentIndex(), index);
    }

    // The system's ports follow "1" to "6" with what each is; choosing one puts its stable
    // name in the box, and that name is what is stored.
    void systemPortsOfferTheirStableNames()
    {
        m_systemPorts = {{"/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0", "/dev/ttyUSB0",
                          "FT232R USB UART, FTDI, serial number A50285BI"},
                         {"/dev/ttyACM0", "/dev/ttyACM0", ""},
                         {"/dev/ttyS0", "/dev/ttyS0", "16550A"}};
        frmSetting *dialog = openDialog();
        auto *com = child<QComboBox>(dialog, "cboCOM");
        QStringList shown;
        for (int i = 6; i < com->count(); ++i)
            shown << com->itemText(i);
        QCOMPARE(shown, (QStringList{"/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0 "
                                     "(FT232R USB UART, FTDI, serial number A50285BI)",
                                     "/dev/ttyACM0"}));
        com->setCurrentIndex(6);
        emit com->activated(6);
        QCOMPARE(com->currentText(),
                 QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        dialog->close();
        QCOMPARE(stored("Settings", "CommPort"),
                 QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A50285BI-if00-port0"));
        m_systemPorts.clear();
    }

    // A port name shows whole in the box and in its list, up to the screen's width;
    // beyond it the dialog stays on the screen and the tooltip has the name.
    void portBoxShowsWholeNames_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("short") << "/tmp/disp";
        QTest::newRow("stable USB name")
            << "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
        QTest::newRow("wider than the screen") << "/dev/serial/by-path/" + QString(200, 'x');
    }

    void portBoxShowsWholeNames()
    {
        QFETCH(QString, port);
        startWith(QByteArray(kDelivered).replace("/dev/fake", port.toUtf8()));
        m_systemPorts = {{port, "/dev/ttyUSB0", "FT232R USB UART"}};
        frmSetting *dialog = openDialog();
        m_systemPorts.clear();
        auto *com = child<QComboBox>(dialog, "cboCOM");
        const int screen = dialog->screen()->availableGeometry().width();
        const QFontMetrics metrics = com->fontMetrics();
        QCOMPARE(com->toolTip(), port);
        QCOMPARE(com->itemData(6, Qt::ToolTipRole).toString(), com->itemText(6));
        QVERIFY(dialog->width() <= screen);
        // The rest of the dialog takes less than 400 pixels.
        const bool fits = metrics.horizontalAdvance(com->itemText(6)) < screen - 400;
        for (const QComboBox *box : {com, child<QComboBox>(dialog, "cboSync")}) {
            for (int i = 0; i < box->count(); ++i) {
                const int needed = metrics.horizontalAdvance(box->itemText(i));
                if (fits || box != com)
                    QVERIFY2(box->view()->minimumWidth() >= needed, qPrintable(box->itemText(i)));
            }
            if (fits || box != com)
                QVERIFY2(box->lineEdit()->width() > metrics.horizontalAdvance(box->currentText()),
                         qPrintable(box->currentText()));
        }
        QCOMPARE(com->view()->textElideMode(), Qt::ElideMiddle);
    }

    // Keys reach the dialog from inside its boxes: Enter presses SET, Esc closes it as
    // the close box does.
    void keyboardPaths_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("Enter in the port box") << "cboCOM" << int(Qt::Key_Return) << "SET";
        QTest::newRow("keypad Enter on the interval") << "cboSync" << int(Qt::Key_Enter) << "SET";
        QTest::newRow("Esc") << "cboSync" << int(Qt::Key_Escape) << "closed";
    }

    void keyboardPaths()
    {
        QFETCH(QString, box);
        QFETCH(int, key);
        QFETCH(QString, outcome);
        QPointer<frmSetting> dialog = openDialog();
        auto *target = child<QComboBox>(dialog, qPrintable(box));
        QTest::keyClick(target->lineEdit(), Qt::Key(key));
        if (outcome == QLatin1String("SET")) {
            QCOMPARE(m_boxes.shown.size(), 1);
            QCOMPARE(m_boxes.shown.first().text, QStringLiteral("Settings Done"));
        } else {
            QTRY_VERIFY(dialog.isNull());
            QCOMPARE(stored("Settings", "SyncInt"), QStringLiteral("2"));
        }
    }

    // The window, its menu, the dialog and the message boxes in the user's language; in
    // English and C locales every text is the one the program always had.
    void languages_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("texts");
        // and a reason the core makes in English, with the reasons it holds
        const QStringList english{"SYNC NOW", "&Setting", "Exit", "Settings", "SET",
                                  "hour", "Settings Done", "Cancel",
                                  "\"x y\" names no serial port: it must be a port number of 1 "
                                  "or more, a device path such as /dev/ttyS0, or "
                                  "rfc2217://HOST:PORT or socket://HOST:PORT.",
                                  "The settings file \"%1\" has an invalid value in section "
                                  "[Sync], key Interval: \"x\". It must be a whole number of "
                                  "minutes from -32768 to 32767."};
        QTest::newRow("C") << "C" << english;
        QTest::newRow("en_US") << "en_US" << english;
        QTest::newRow("de_DE") << "de_DE"
                               << QStringList{"ABGLEICHEN", "&Einstellung", "Beenden",
                                              "Einstellungen", "SETZEN", "1 Stunde",
                                              "Einstellungen gespeichert", "Abbrechen",
                                              "„x y“ nennt keine serielle Schnittstelle: "
                                              "erwartet wird eine Portnummer ab 1, ein "
                                              "Gerätepfad wie /dev/ttyS0 oder "
                                              "rfc2217://HOST:PORT oder socket://HOST:PORT.",
                                              "Die Einstellungsdatei „%1“ hat einen ungültigen "
                                              "Wert im Abschnitt [Sync], Schlüssel Interval: "
                                              "„x“. Erwartet wird eine ganze Zahl von Minuten "
                                              "von -32768 bis 32767."};
    }

    void languages()
    {
        QFETCH(QString, locale);
        QFETCH(QStringList, texts);
        installTranslations(*qApp, QLocale(locale));
        const auto removeTranslations = qScopeGuard([] {
            for (QTranslator *translator : qApp->findChildren<QTranslator *>()) {
                QCoreApplication::removeTranslator(translator);
                delete translator;
            }
        });
        startWith(kDelivered);
        frmSetting *dialog = openDialog();
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        QStringList shown{child<QPushButton>("cmdSync")->text(),
                                child<QAction>("mnuSetting")->text(),
                                child<QAction>("mnuExit")->text(),
                                dialog->windowTitle(),
                                child<QPushButton>(dialog, "cmdSet")->text(),
                                child<QComboBox>(dialog, "cboSync")->currentText(),
                                m_boxes.shown.value(0).text,
                                // Qt's own, as on a dialog's button
                                QCoreApplication::translate("QPlatformTheme", "Cancel"),
                                (m_window->showPortNotOpen(PortNames::whyNoPort("x y")),
                                 child<QLabel>("lblStamp")->toolTip())};
        // and the settings file's, at start-up
        delete m_window;
        createWindow("[Settings]\r\nCommPort=1\r\nSetting=9600,N,8,1\r\n[Sync]\r\nInterval=x\r\n");
        QVERIFY(!m_window->load());
        shown << m_boxes.shown.value(0).text;
        texts.last() = texts.last().arg(QFileInfo(iniPath()).canonicalFilePath());
        QCOMPARE(shown, texts);
    }

    void set_data()
    {
        QTest::addColumn<int>("startInterval");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("typed"); ///< typed into the interval box after; "": nothing
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("present"); ///< the port's device is there now
        QTest::addColumn<QString>("storedInterval");
        QTest::addColumn<QString>("said");
        const QString done = QStringLiteral("Settings Done");
        QTest::newRow("hour") << 720 << 2 << "" << "/dev/fake" << true << "60" << done;
        QTest::newRow("minute") << 60 << 0 << "" << "/dev/fake" << true << "1" << done;
        QTest::newRow("12 hours") << 30 << 3 << "" << "/dev/fake" << true << "720" << done;
        QTest::newRow("15 kept without a selection")
            << 15 << -1 << "" << "/dev/fake" << true << "15" << done;
        QTest::newRow("an entry's name typed, case and blanks aside")
            << 60 << 0 << " 12 HOURS " << "/dev/fake" << true << "720" << done;
        QTest::newRow("typed port above 6") << 60 << 1 << "" << "9" << true << "30" << done;
        QTest::newRow("typed device server's port")
            << 60 << 1 << "" << "rfc2217://display-7:4001" << false << "30" << done;
        QTest::newRow("a device not there now")
            << 60 << 1 << "" << "/dev/ttyUSB7" << false << "30"
            << done + "\n\n/dev/ttyUSB7 is not there now; it is opened when it is plugged in.";
    }

    void set()
    {
        QFETCH(int, startInterval);
        QFETCH(int, index);
        QFETCH(QString, typed);
        QFETCH(QString, port);
        QFETCH(bool, present);
        QFETCH(QString, storedInterval);
        QFETCH(QString, said);
        startWith(withInterval(startInterval));
        m_deviceWatch.present = present;
        for (int i = 0; i < 5; ++i)
            m_window->core().schedule().minutePassed();

        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboSync")->setCurrentIndex(index);
        if (!typed.isEmpty())
            child<QComboBox>(dialog, "cboSync")->setEditText(typed);
        child<QComboBox>(dialog, "cboCOM")->setEditText(port);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);

        QCOMPARE(stored("Sync", "Interval"), storedInterval);
        QCOMPARE(QString::number(dialog->settings().interval), storedInterval);
        QCOMPARE(dialog->settings().commPort, port);
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.first().icon, QMessageBox::Information);
        QCOMPARE(m_boxes.shown.first().text, said);
        // The port is stored when the dialog closes, not before.
        QCOMPARE(stored("Settings", "CommPort"), QStringLiteral("/dev/fake"));
        dialog->close();
        QCOMPARE(stored("Settings", "CommPort"), port);
        QCOMPARE(stored("Settings", "SyncInt"),
                 QString::number(SyncIntervals::indexForMinutes(qint16(storedInterval.toInt()))));
        // The program goes on with them, counting the minutes afresh.
        QCOMPARE(m_window->settings().commPort, port);
        QCOMPARE(QString::number(m_window->settings().interval), storedInterval);
        QCOMPARE(m_window->core().schedule().count(), qint16(0));
    }

    void closingWithoutSetStoresPortAndIndexOnly()
    {
        startWith(withInterval(15));
        frmSetting *dialog = openDialog();
        dialog->close();
        QCOMPARE(settingsBytes(),
                 QByteArray("[Settings]\r\nCommPort=/dev/fake\r\nSetting=9600,N,8,1\r\n"
                            "SyncInt=-1\r\n\r\n[Sync]\r\nInterval=15\r\n"));
        QVERIFY(m_boxes.shown.isEmpty());
    }

    // Closing the dialog opens the port it names, restarts the schedule and sends a frame,
    // so a changed port takes effect at once and the status line shows whether it works.
    void closingReopensThePortAndSyncs()
    {
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboCOM")->setEditText("/dev/other");
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        dialog->close();
        reachSlot();
        QCOMPARE(m_link.opened.last(), QStringLiteral("/dev/other"));
        QVERIFY(m_link.isOpen());
        QCOMPARE(m_link.written.size(), 1);
        QVERIFY(timer2()->isActive());
        QVERIFY(m_window->findChild<QLabel *>("lblStamp")->text().startsWith("Last Sync at "));
    }

    void setRefusesATextThatNamesNoPort_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("interval"); ///< typed into its box; "": the first entry
        QTest::addColumn<QString>("refusal");
        const auto noPort = [](const QString &port) { return "\"" + port + "\" names no "; };
        QTest::newRow("a Windows name on Linux") << "COM3" << "" << noPort("COM3");
        QTest::newRow("number 0") << "0" << "" << noPort("0");
        QTest::newRow("negative number") << "-2" << "" << noPort("-2");
        QTest::newRow("empty") << "" << "" << noPort("");
        QTest::newRow("a device name without its folder") << "ttyUSB0" << "" << noPort("ttyUSB0");
        QTest::newRow("a tab inside a path") << "/dev/tty\tUSB0" << "" << noPort("/dev/tty\tUSB0");
        QTest::newRow("a vertical tab after a path")
            << "/dev/ttyUSB0\v" << "" << noPort("/dev/ttyUSB0\v");
        QTest::newRow("a device server without its port")
            << "socket://display-7" << "" << noPort("socket://display-7");
        QTest::newRow("an interval the list does not have")
            << "/dev/fake" << "15 minutes"
            << "\"15 minutes\" is not one of the intervals: minute, 30 minutes, hour, 12 hours.";
    }

    // "COM3" stored on Linux would stop the next start-up, and with it the dialog that
    // could mend it: such a text is refused at SET and never stored, and so is an interval
    // the list does not have, which would store nothing and say it had.
    void setRefusesATextThatNamesNoPort()
    {
        QFETCH(QString, port);
        QFETCH(QString, interval);
        QFETCH(QString, refusal);
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboSync")->setCurrentIndex(0);
        if (!interval.isEmpty())
            child<QComboBox>(dialog, "cboSync")->setEditText(interval);
        child<QComboBox>(dialog, "cboCOM")->setEditText(port);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.first().icon, QMessageBox::Warning);
        QVERIFY2(m_boxes.shown.first().text.contains(refusal),
                 qPrintable(m_boxes.shown.first().text));
        QCOMPARE(settingsBytes(), kDelivered);
        QCOMPARE(dialog->settings().commPort, QStringLiteral("/dev/fake"));
        QCOMPARE(dialog->settings().interval, qint16(60));

        dialog->close();
        QCOMPARE(stored("Settings", "CommPort"), QStringLiteral("/dev/fake"));
        reachSlot();
        QCOMPARE(m_link.written.size(), 1);
    }

    // While the dialog holds the port, the status line and SYNC NOW say so, and the
    // status line tells what closing the dialog does.
    void statusSaysTheDialogHasThePort()
    {
        auto *stamp = m_window->findChild<QLabel *>("lblStamp");
        frmSetting *dialog = openDialog();
        QCOMPARE(stamp->text(), QStringLiteral("Settings open: port closed"));
        QVERIFY(stamp->toolTip().contains("Closing the dialog"));
        stamp->clear();
        QTest::mouseClick(m_window->findChild<QPushButton *>("cmdSync"), Qt::LeftButton);
        QCOMPARE(stamp->text(), QStringLiteral("Settings open: port closed"));
        QVERIFY(m_link.written.isEmpty());
        dialog->close();
        reachSlot();
        QVERIFY2(stamp->text().startsWith("Last Sync at "), qPrintable(stamp->text()));
        QCOMPARE(stamp->toolTip(), QString());
    }

    // "Settings Done" appears only when the file was written; a failed write warns and
    // names the file and the reason.
    void failedWritesWarn()
    {
        frmSetting *dialog = openDialog();
        // A folder where the settings file should be: it is never written through.
        QVERIFY(QFile::remove(iniPath()));
        QVERIFY(QDir().mkdir(iniPath()));

        child<QComboBox>(dialog, "cboSync")->setCurrentIndex(0);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.at(0).icon, QMessageBox::Warning);
        QVERIFY2(m_boxes.shown.at(0).text.contains(iniPath()),
                 qPrintable(m_boxes.shown.at(0).text));

        dialog->close();
        QCOMPARE(m_boxes.shown.size(), 2);
        QCOMPARE(m_boxes.shown.at(1).icon, QMessageBox::Warning);
        QVERIFY(m_boxes.shown.at(1).text.contains(iniPath()));
        QDir().rmdir(iniPath());
    }

    void checkBoxShowsTheRegistration_data()
    {
        QTest::addColumn<QString>("registered");
        QTest::addColumn<bool>("ticked");
        QTest::newRow("none") << "" << false;
        QTest::newRow("this program") << m_dir.filePath("orvantide") + " -systray" << true;
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
        QCOMPARE(m_store.value, m_dir.filePath("orvantide") + " -systray");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(!box->isChecked());
        QCOMPARE(m_store.value, QString());
        QVERIFY(m_boxes.shown.isEmpty());
    }

    // A refused registration puts the box back to what is registered and says why.
    void refusedRegistrationPutsTheBoxBack()
    {
        m_store.refusal = "Cannot create the autostart folder \"/x/autostart\".";
        frmSetting *dialog = openDialog();
        auto *box = child<QCheckBox>(dialog, "ChkRWSU");
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        QVERIFY(!box->isChecked());
        QCOMPARE(m_boxes.shown.size(), 1);
        QCOMPARE(m_boxes.shown.first().icon, QMessageBox::Warning);
        QVERIFY(m_boxes.shown.first().text.contains(m_store.refusal));
    }

    void exitWithTheDialogOpenStoresItsSettings()
    {
        frmSetting *dialog = openDialog();
        child<QComboBox>(dialog, "cboCOM")->setEditText("4");
        QTest::mouseClick(child<QPushButton>(dialog, "cmdSet"), Qt::LeftButton);
        m_window->findChild<QAction *>(QStringLiteral("mnuExit"))->trigger();
        QCOMPARE(stored("Settings", "CommPort"), QStringLiteral("4"));
        QVERIFY(!m_link.isOpen());
        QVERIFY(m_link.written.isEmpty());
    }
};

QTEST_MAIN(tst_frmSetting)
#include "tst_frmsetting.moc"
