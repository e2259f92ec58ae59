#pragma once
// The desktops users have, started for a test: a window manager with a notification area
// of one of today's kinds, or a Wayland compositor. ORVANTIDE_DESKTOP names the set-up:
//   xembed   X11 (an Xvfb of the test's own) with openbox and the XEmbed tray trayer;
//   sni      X11 with openbox and a StatusNotifierItem host (status-notifier-watcher and
//            gtk-sni-tray-standalone) on the session bus (run under dbus-run-session);
//   wayland  sway on its headless back end, run as an unprivileged user since it refuses
//            root, with a StatusNotifierItem watcher and host on the session bus.

#include "e2e/x11.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class Desktop
{
public:
    enum class Kind { XEmbed, Sni, Wayland };

    static constexpr const char *kTitle = "KV7R/9R Orvantide";

    Kind kind = Kind::XEmbed;

    ~Desktop() { stop(); }

    /// Starts the set-up ORVANTIDE_DESKTOP names; false with the reason when it cannot run.
    bool start(QString *error)
    {
        const QString name = qEnvironmentVariable("ORVANTIDE_DESKTOP");
        if (name == QLatin1String("sni"))
            kind = Kind::Sni;
        else if (name == QLatin1String("wayland"))
            kind = Kind::Wayland;
        else if (name != QLatin1String("xembed"))
            return fail(error, "ORVANTIDE_DESKTOP must be xembed, sni or wayland");
        if (kind != Kind::Wayland && !startXServer(error))
            return false;
        if (kind != Kind::XEmbed && !QDBusConnection::sessionBus().isConnected())
            return fail(error, "no session bus: run the test under dbus-run-session");
        if (kind == Kind::Wayland ? !startSway(error) : !startOpenbox(error))
            return false;
        return startTray(error);
    }

    void stop()
    {
        stopTray();
        stopProcess(m_windowManager);
        stopProcess(m_xServer);
        m_runtime.reset();
    }

    /// An X server of the set-up's own, which every program it starts uses: no key or
    /// click another test sends to a shared server (or that the server still holds for
    /// it) can reach the program's windows.
    bool startXServer(QString *error)
    {
        m_xServer.start(QStringLiteral("Xvfb"),
                        {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                         QStringLiteral("0"), QStringLiteral("1024x768x24"),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!m_xServer.waitForStarted() || !waitFor([&] { return m_xServer.canReadLine(); }))
            return fail(error, "Xvfb did not start");
        qputenv("DISPLAY", ":" + m_xServer.readLine().trimmed());
        return true;
    }

    /// Starts the notification area of the set-up and waits until programs can use it.
    bool startTray(QString *error)
    {
        if (kind == Kind::XEmbed) {
            // A panel at the bottom left, as a taskbar: the icon's menu opens above the
            // pointer. (At the top right it opens under it, where Qt may take the held
            // button for a choice of the item there while a loaded server is slow.)
            m_trayHost.start(QStringLiteral("trayer"),
                             {QStringLiteral("--edge"), QStringLiteral("bottom"),
                              QStringLiteral("--align"), QStringLiteral("left"),
                              QStringLiteral("--widthtype"), QStringLiteral("request"),
                              QStringLiteral("--height"), QStringLiteral("24"),
                              QStringLiteral("--transparent"), QStringLiteral("false")});
            QByteArray panel;
            if (!m_trayHost.waitForStarted() ||
                xdotool({QStringLiteral("search"), QStringLiteral("--sync"),
                         QStringLiteral("--classname"), QStringLiteral("^panel$")},
                        &panel) != 0)
                return fail(error, "trayer did not start");
            m_panel = QString::fromLatin1(panel).split(QLatin1Char('\n')).first();
            return true;
        }
        m_watcher.start(QStringLiteral("status-notifier-watcher"), {});
        if (!m_watcher.waitForStarted() ||
            !waitFor([] { return busHasName(QStringLiteral("org.kde.StatusNotifierWatcher")); }))
            return fail(error, "status-notifier-watcher did not start");
        if (kind == Kind::Sni) {
            m_trayHost.start(QStringLiteral("gtk-sni-tray-standalone"),
                             {QStringLiteral("--top"), QStringLiteral("--end"),
                              QStringLiteral("--size"), QStringLiteral("30")});
            if (!m_trayHost.waitForStarted())
                return fail(error, "gtk-sni-tray-standalone did not start");
        } else {
            // No panel runs on the headless compositor: the test is the host.
            const QString host = QStringLiteral("org.kde.StatusNotifierHost-%1")
                                     .arg(QCoreApplication::applicationPid());
            QDBusConnection::sessionBus().registerService(host);
            watcherCall(
                {QStringLiteral("org.kde.StatusNotifierWatcher.RegisterStatusNotifierHost"), host});
        }
        if (!waitFor([this] {
                return watcherProperty("IsStatusNotifierHostRegistered") ==
                       QLatin1String("(<true>,)");
            }))
            return fail(error, "no StatusNotifierItem host registered");
        return true;
    }

    void stopTray()
    {
        stopProcess(m_trayHost);
        stopProcess(m_watcher);
        if (kind == Kind::Wayland)
            QDBusConnection::sessionBus().unregisterService(
                QStringLiteral("org.kde.StatusNotifierHost-%1")
                    .arg(QCoreApplication::applicationPid()));
    }

    /// The environment for the program: the desktop's display and nothing of the test's.
    QProcessEnvironment programEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        if (kind == Kind::Wayland) {
            env.remove(QStringLiteral("DISPLAY"));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            env.insert(QStringLiteral("WAYLAND_DISPLAY"), m_waylandDisplay);
            // Under the sanitizers: a Qt Wayland plugin leaves an allocation that LeakSanitizer
            // cannot name once the plugin is unloaded at exit, so no suppression can match
            // it. The other set-ups look for the program's leaks.
            if (env.contains(QStringLiteral("ASAN_OPTIONS")))
                env.insert(QStringLiteral("ASAN_OPTIONS"),
                           env.value(QStringLiteral("ASAN_OPTIONS")) +
                               QStringLiteral(":detect_leaks=0"));
        }
        return env;
    }

    /// The main window is on screen as the user sees it: mapped, and not iconic or hidden
    /// in the window manager's eyes.
    bool windowShown() const
    {
        if (kind == Kind::Wayland)
            return waylandWindow().value(QStringLiteral("visible")).toBool();
        const X11State x = x11State();
        return x.found && x.map.contains("IsViewable") &&
               x.state.contains("window state: Normal") &&
               !x.state.contains("_NET_WM_STATE_HIDDEN");
    }

    /// What the window system says of the window and the icons, for a failure's message.
    QByteArray describe() const
    {
        QByteArray text = "icons: " + QByteArray::number(icons()) + "; ";
        if (kind == Kind::Wayland)
            return text + QJsonDocument(waylandWindow()).toJson(QJsonDocument::Compact);
        const X11State x = x11State();
        return text + x.map + "; " + x.state;
    }

    /// The main window is gone from the screen and the taskbar.
    bool windowHidden() const
    {
        if (kind == Kind::Wayland)
            return waylandWindow().isEmpty();
        const X11State x = x11State();
        return x.found && x.map.contains("IsUnMapped") &&
               !x.state.contains("window state: Normal") &&
               !x.state.contains("window state: Iconic");
    }

    /// The main window is minimised on the taskbar (X11).
    bool windowIconic() const { return x11State().state.contains("window state: Iconic"); }

    /// The program's icons in the notification area.
    int icons() const
    {
        if (kind == Kind::XEmbed) {
            // Those docked and mapped: a user can see and click them.
            QByteArray tree;
            runTool(QStringLiteral("xwininfo"),
                    {QStringLiteral("-tree"), QStringLiteral("-id"), m_panel}, &tree);
            static const QRegularExpression icon(QStringLiteral("(0x[0-9a-f]+) \"Orvantide\":"));
            int shown = 0;
            for (auto it = icon.globalMatch(QString::fromLatin1(tree)); it.hasNext();) {
                QByteArray info;
                runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), it.next().captured(1)},
                        &info);
                shown += info.contains("IsViewable");
            }
            return shown;
        }
        return int(items().size());
    }

    /// A left click on the icon, or the host's Activate where it speaks D-Bus.
    void activateIcon() const
    {
        if (kind == Kind::XEmbed) {
            clickPanel(QStringLiteral("click"), 1);
            return;
        }
        itemCall(QStringLiteral("/StatusNotifierItem"),
                 {QStringLiteral("org.kde.StatusNotifierItem.Activate"), QStringLiteral("0"),
                  QStringLiteral("0")});
    }

    /// The window manager minimises the window, as its title bar's button does (X11).
    void minimiseWindow() const { xdotool({QStringLiteral("windowminimize"), x11Window()}); }

    /// The labels of the icon's menu, with their ids (D-Bus set-ups).
    QMap<QString, int> menuItems() const
    {
        const QString layout =
            itemCall(QStringLiteral("/MenuBar"),
                     {QStringLiteral("com.canonical.dbusmenu.GetLayout"), QStringLiteral("--"),
                      QStringLiteral("0"), QStringLiteral("-1"), QStringLiteral("@as []")});
        QMap<QString, int> items;
        static const QRegularExpression item(
            QStringLiteral("\\((\\d+), \\{[^}]*'label': <'([^']*)'>"));
        for (auto it = item.globalMatch(layout); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            items.insert(m.captured(2), m.captured(1).toInt());
        }
        return items;
    }

    /// Chooses the item `label` of the icon's menu, as a user would.
    void chooseFromMenu(const QString &label) const
    {
        if (kind == Kind::XEmbed) {
            // The right button is pressed on the icon and held while the menu opens; once
            // its window is shown and its place known, the pointer moves onto the item and
            // the button is let go there, and a click follows on the same spot. Whatever
            // the loaded X server delivers late, every event lands on the item chosen:
            // the menu opens under the pointer at the screen's corner, where a release
            // handled after it is shown chooses the item below it.
            const auto menus = [] {
                return xwindows({QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                                 QStringLiteral("orvantide")});
            };
            const QStringList before = menus();
            QString menu;
            // Found by its role: the icon's tooltip is a window of the program's too (Qt
            // gives the menu no menu type on X11, only the tooltip its own).
            const auto opened = [&] {
                for (const QString &window : menus()) {
                    QByteArray type;
                    runTool(QStringLiteral("xprop"),
                            {QStringLiteral("-id"), window, QStringLiteral("_NET_WM_WINDOW_TYPE")},
                            &type);
                    if (!before.contains(window) && !type.contains("_NET_WM_WINDOW_TYPE_TOOLTIP"))
                        menu = window;
                }
                return !menu.isEmpty();
            };
            // A press a loaded X server hands to the panel before the icon is in place
            // opens nothing: as a user would, the test presses again.
            for (int press = 0; press < 3 && !opened(); ++press) {
                if (press > 0)
                    xdotool({QStringLiteral("mouseup"), QStringLiteral("3")});
                CHECKED(clickPanel(QStringLiteral("mousedown"), 3));
                (void)QTest::qWaitFor(opened, kSettleMs / 2);
            }
            QVERIFY2(!menu.isEmpty(), describe().constData());
            // "Restore" is the upper item, "Exit" the lower.
            QByteArray shell;
            xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), menu}, &shell);
            QMap<QByteArray, int> geometry;
            for (const QByteArray &line : shell.split('\n'))
                if (const qsizetype eq = line.indexOf('='); eq > 0)
                    geometry.insert(line.left(eq), line.mid(eq + 1).toInt());
            const QString x = QString::number(geometry.value("X") + geometry.value("WIDTH") / 2);
            const QString y = QString::number(
                geometry.value("Y") +
                geometry.value("HEIGHT") * (label == QLatin1String("Exit") ? 3 : 1) / 4);
            xdotool({QStringLiteral("mousemove"), x, y, QStringLiteral("mouseup"),
                     QStringLiteral("3")});
            if (!menus().contains(menu))
                return; // chosen by the release
            xdotool({QStringLiteral("click"), QStringLiteral("1")});
            return;
        }
        const int id = menuItems().value(label, -1);
        QVERIFY2(id >= 0, qPrintable(label));
        itemCall(QStringLiteral("/MenuBar"),
                 {QStringLiteral("com.canonical.dbusmenu.Event"), QStringLiteral("--"),
                  QString::number(id), QStringLiteral("clicked"), QStringLiteral("<0>"),
                  QStringLiteral("0")});
    }

private:
    QProcess m_xServer;
    QProcess m_windowManager;
    QProcess m_trayHost;
    QProcess m_watcher;
    QString m_panel;
    mutable QString m_mainWindow; ///< the main window's X11 id when last found
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_waylandDisplay;
    QString m_swaySocket;

    static bool fail(QString *error, const char *why)
    {
        *error = QString::fromLatin1(why);
        return false;
    }

    template <typename Condition>
    static bool waitFor(Condition condition, int timeoutMs = 2 * kSettleMs)
    {
        QElapsedTimer waited;
        waited.start();
        while (!condition()) {
            if (waited.elapsed() > timeoutMs)
                return false;
            QTest::qWait(50);
        }
        return true;
    }

    static bool busHasName(const QString &name)
    {
        return QDBusConnection::sessionBus().interface()->isServiceRegistered(name);
    }

    bool startOpenbox(QString *error)
    {
        const auto running = [this] {
            // The root's property outlives a window manager that was killed: its window
            // must exist too.
            QByteArray root;
            runTool(QStringLiteral("xprop"),
                    {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")}, &root);
            const int at = root.indexOf("window id # ");
            return at >= 0 && runTool(QStringLiteral("xwininfo"),
                                      {QStringLiteral("-id"),
                                       QString::fromLatin1(root.mid(at + 12).trimmed())}) == 0;
        };
        // An X server that resets as its last client leaves refuses connections for a
        // moment: a window manager that could not connect is started again.
        m_windowManager.setProcessChannelMode(QProcess::MergedChannels);
        for (int attempt = 0; attempt < 5; ++attempt) {
            // --replace: the window manager of an earlier set-up may still be letting go.
            m_windowManager.start(QStringLiteral("openbox"),
                                  {QStringLiteral("--replace"), QStringLiteral("--sm-disable")});
            if (m_windowManager.waitForStarted() && waitFor([&] {
                    return m_windowManager.state() != QProcess::Running || running();
                }) &&
                m_windowManager.state() == QProcess::Running)
                return true;
            m_windowManager.waitForFinished(1000);
        }
        *error = QStringLiteral("openbox did not start: ") +
                 QString::fromLocal8Bit(m_windowManager.readAll().right(1500));
        return false;
    }

    bool startSway(QString *error)
    {
        constexpr uid_t kNobody = 65534;
        m_runtime = std::make_unique<QTemporaryDir>();
        const QString dir = m_runtime->path();
        if (::chown(QFile::encodeName(dir).constData(), kNobody, kNobody) != 0 ||
            ::chmod(QFile::encodeName(dir).constData(), 0700) != 0)
            return fail(error, "cannot hand the runtime folder to the unprivileged user");
        const QString config = dir + QStringLiteral(".conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return fail(error, "cannot write the compositor's configuration");
        file.write("xwayland disable\noutput HEADLESS-1 resolution 1024x768\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::ReadOther | QFile::ReadGroup);
        m_windowManager.start(
            QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
             QStringLiteral("--clear-groups"), QStringLiteral("env"), QStringLiteral("-i"),
             QStringLiteral("WLR_BACKENDS=headless"), QStringLiteral("WLR_RENDERER=pixman"),
             QStringLiteral("WLR_LIBINPUT_NO_DEVICES=1"), QStringLiteral("XDG_RUNTIME_DIR=") + dir,
             QStringLiteral("HOME=") + dir, QStringLiteral("sway"), QStringLiteral("-c"), config});
        const auto ready = [&] {
            const QStringList entries = QDir(dir).entryList(QDir::System | QDir::Files);
            for (const QString &entry : entries) {
                if (entry.startsWith(QLatin1String("sway-ipc.")))
                    m_swaySocket = dir + QLatin1Char('/') + entry;
                else if (QRegularExpression(QStringLiteral("^wayland-\\d+$"))
                             .match(entry)
                             .hasMatch())
                    m_waylandDisplay = dir + QLatin1Char('/') + entry;
            }
            return !m_swaySocket.isEmpty() && !m_waylandDisplay.isEmpty();
        };
        if (!m_windowManager.waitForStarted() || !waitFor(ready))
            return fail(error, "sway did not start");
        return true;
    }

    /// What the X server and the window manager say of the main window.
    struct X11State
    {
        bool found = false;
        QByteArray map;   ///< "Map State: IsViewable", "... IsUnMapped"
        QByteArray state; ///< WM_STATE and _NET_WM_STATE, on one line
    };

    X11State x11State() const
    {
        X11State x;
        const QString id = x11Window();
        if (id.isEmpty())
            return x;
        x.found = true;
        QByteArray info;
        runTool(QStringLiteral("xwininfo"), {QStringLiteral("-id"), id}, &info);
        const int map = info.indexOf("Map State");
        x.map = info.mid(map, info.indexOf('\n', map) - map);
        runTool(QStringLiteral("xprop"),
                {QStringLiteral("-id"), id, QStringLiteral("WM_STATE"),
                 QStringLiteral("_NET_WM_STATE")},
                &x.state);
        x.state = x.state.simplified();
        return x;
    }

    /// The main window's X11 id, or nothing before it exists. The window found last is
    /// asked first: a search over the whole tree can miss it while other clients (a tray
    /// host on a loaded machine) make and destroy windows beside it, so an empty search is
    /// tried again before it counts.
    QString x11Window() const
    {
        QByteArray name;
        if (!m_mainWindow.isEmpty() &&
            runTool(QStringLiteral("xprop"),
                    {QStringLiteral("-id"), m_mainWindow, QStringLiteral("WM_NAME")}, &name) == 0 &&
            name.contains(QByteArray("\"") + kTitle + '"'))
            return m_mainWindow;
        for (int attempt = 0; attempt < 3; ++attempt) {
            const QStringList found =
                xwindows({QStringLiteral("--name"),
                          QLatin1Char('^') + QLatin1String(kTitle) + QLatin1Char('$')});
            if (!found.isEmpty())
                return m_mainWindow = found.first();
        }
        return {};
    }

    /// The main window in sway's tree, or an empty object when it has none.
    QJsonObject waylandWindow() const
    {
        QProcess swaymsg;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SWAYSOCK"), m_swaySocket);
        swaymsg.setProcessEnvironment(env);
        swaymsg.start(QStringLiteral("swaymsg"),
                      {QStringLiteral("-t"), QStringLiteral("get_tree")});
        swaymsg.waitForFinished(10000);
        QList<QJsonObject> nodes{QJsonDocument::fromJson(swaymsg.readAllStandardOutput()).object()};
        while (!nodes.isEmpty()) {
            const QJsonObject node = nodes.takeFirst();
            if (node.value(QStringLiteral("name")).toString() == QLatin1String(kTitle))
                return node;
            for (const char *key : {"nodes", "floating_nodes"}) {
                for (const QJsonValue &child : node.value(QLatin1String(key)).toArray())
                    nodes << child.toObject();
            }
        }
        return {};
    }

    /// Clicks (`action` "click") or presses ("mousedown") `button` in the middle of the
    /// program's icon once it has come to rest: a panel that has
    /// just taken an icon may still be moving to make room for it.
    void clickPanel(const QString &action, int button) const
    {
        // 0x600010 "Orvantide": ("orvantide" "Orvantide")  22x22+0+0  +1001+1
        static const QRegularExpression icon(QStringLiteral(
            "\"Orvantide\":.*\\s(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
        QPoint last(-1, -1);
        for (int attempt = 0; attempt < 100; ++attempt) {
            QByteArray tree;
            runTool(QStringLiteral("xwininfo"),
                    {QStringLiteral("-tree"), QStringLiteral("-id"), m_panel}, &tree);
            const QRegularExpressionMatch m = icon.match(QString::fromLatin1(tree));
            const QPoint centre = m.hasMatch()
                                      ? QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                                               m.captured(4).toInt() + m.captured(2).toInt() / 2)
                                      : QPoint(-1, -1);
            if (centre == last && m.hasMatch()) {
                xdotool({QStringLiteral("mousemove"), QString::number(centre.x()),
                         QString::number(centre.y()), action, QString::number(button)});
                return;
            }
            last = centre;
            QTest::qWait(100);
        }
        QFAIL("the icon never came to rest");
    }

    static QString gdbus(const QStringList &arguments)
    {
        QByteArray out;
        runTool(QStringLiteral("gdbus"),
                QStringList{QStringLiteral("call"), QStringLiteral("--session")} + arguments, &out);
        return QString::fromUtf8(out).trimmed();
    }

    static QString watcherCall(const QStringList &method)
    {
        return gdbus(QStringList{QStringLiteral("-d"),
                                 QStringLiteral("org.kde.StatusNotifierWatcher"),
                                 QStringLiteral("-o"), QStringLiteral("/StatusNotifierWatcher"),
                                 QStringLiteral("-m")} +
                     method);
    }

    static QString watcherProperty(const char *name)
    {
        return watcherCall({QStringLiteral("org.freedesktop.DBus.Properties.Get"),
                            QStringLiteral("org.kde.StatusNotifierWatcher"), QLatin1String(name)});
    }

    /// The bus names of the registered items (a registration may add an object path).
    static QStringList items()
    {
        static const QRegularExpression quoted(QStringLiteral("'([^']+)'"));
        QStringList names;
        for (auto it = quoted.globalMatch(watcherProperty("RegisteredStatusNotifierItems"));
             it.hasNext();)
            names << it.next().captured(1).section(QLatin1Char('/'), 0, 0);
        return names;
    }

    static QString itemCall(const QString &path, const QStringList &method)
    {
        const QString item = items().value(0);
        if (item.isEmpty())
            return {};
        return gdbus(QStringList{QStringLiteral("-d"), item, QStringLiteral("-o"), path,
                                 QStringLiteral("-m")} +
                     method);
    }
};
