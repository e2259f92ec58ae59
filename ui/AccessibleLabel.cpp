#include "ui/AccessibleLabel.h"

#include <QAccessibleWidget>
#include <QLabel>

namespace {

/// A label's text, read only: no selection, no caret.
class LabelText : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LabelText(QLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return shown();
        return QAccessibleWidget::text(kind);
    }

    QString text(int startOffset, int endOffset) const override
    {
        return shown().mid(startOffset, endOffset < 0 ? -1 : endOffset - startOffset);
    }
    int characterCount() const override { return int(shown().size()); }
    QString attributes(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = 0;
        *endOffset = characterCount();
        return {};
    }
    void selection(int, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = 0;
    }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint &) const override { return -1; }
    void scrollToSubstring(int, int) override {}

private:
    QString shown() const { return static_cast<QLabel *>(widget())->text(); }
};

constexpr char kReadAsText[] = "readAsText";

QAccessibleInterface *labelText(const QString &className, QObject *object)
{
    auto *label = qobject_cast<QLabel *>(object);
    if (className != QLatin1String("QLabel") || !label || !label->property(kReadAsText).toBool())
        return nullptr;
    return new LabelText(label);
}

} // namespace

void AccessibleLabel::readAsText(QLabel *label)
{
    static const bool installed = (QAccessible::installFactory(labelText), true);
    Q_UNUSED(installed);
    label->setProperty(kReadAsText, true);
}
