#include "ui/MessageBox.h"

const QString MessageBoxes::kTitle = QStringLiteral("Orvantide");

MessageBoxes::~MessageBoxes() = default;

void MessageBoxes::show(QWidget *parent, QMessageBox::Icon icon, const QString &text)
{
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok, parent);
    box.exec();
}
