// The footprint benchmark's baseline: a bare Qt window with a clock label refreshed
// every second.

#include <QApplication>
#include <QLabel>
#include <QTime>
#include <QTimer>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowTitle(QStringLiteral("bare clock"));
    label.setMinimumSize(266, 88);
    label.setAlignment(Qt::AlignCenter);
    auto refresh = [&] {
        label.setText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    };
    refresh();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, refresh);
    timer.start(1000);
    label.show();
    return app.exec();
}
