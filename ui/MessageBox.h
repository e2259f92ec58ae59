#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

/// The program's message boxes, all captioned with the application title "Orvantide".
/// The windows are handed one; tests hand them a recorder.
class MessageBoxes
{
public:
    static const QString kTitle;

    virtual ~MessageBoxes();

    void information(QWidget *parent, const QString &text)
    {
        show(parent, QMessageBox::Information, text);
    }
    void warning(QWidget *parent, const QString &text) { show(parent, QMessageBox::Warning, text); }
    void critical(QWidget *parent, const QString &text)
    {
        show(parent, QMessageBox::Critical, text);
    }

protected:
    /// Shows a modal box with an OK button and returns when it is closed.
    virtual void show(QWidget *parent, QMessageBox::Icon icon, const QString &text);
};
