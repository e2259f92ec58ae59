#include "ui/MessageBox.h"

namespace MessageBox {
namespace {

const QString kTitle = QStringLiteral("Orvantide");
QList<Shown> *g_recorder = nullptr;

void show(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    if (g_recorder) {
        g_recorder->append({icon, kTitle, text});
        return;
    }
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

void information(QWidget *parent, const QString &text)
{
    show(parent, QMessageBox::Information, text);
}

void warning(QWidget *parent, const QString &text)
{
    show(parent, QMessageBox::Warning, text);
}

void critical(QWidget *parent, const QString &text)
{
    show(parent, QMessageBox::Critical, text);
}

void setRecorder(QList<Shown> *recorder)
{
    g_recorder = recorder;
}

} // namespace MessageBox
