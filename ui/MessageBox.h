#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>

class QWidget;

/// The program's message boxes, all captioned with the application title "Orvantide".
/// Tests install a recorder: boxes are then recorded instead of shown.
namespace MessageBox {

struct Shown
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

void information(QWidget *parent, const QString &text);
void warning(QWidget *parent, const QString &text);
void critical(QWidget *parent, const QString &text);

/// While set, boxes are appended to `recorder` and not shown; nullptr shows them again.
void setRecorder(QList<Shown> *recorder);

} // namespace MessageBox
