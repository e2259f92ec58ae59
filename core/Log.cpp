#include "core/Log.h"

#include <QVariant>

#include <utility>

Q_LOGGING_CATEGORY(lcSync, "orvantide.sync", QtWarningMsg)

namespace {
thread_local QString t_display;
constexpr char kDisplayProperty[] = "orvantide.display";
} // namespace

LogScope::LogScope(const QString &display) : m_outer(std::exchange(t_display, display)) {}

LogScope::~LogScope()
{
    t_display = std::move(m_outer);
}

QString LogScope::current()
{
    return t_display;
}

void LogScope::tag(QObject *object)
{
    if (!t_display.isEmpty())
        object->setProperty(kDisplayProperty, t_display);
}

QString LogScope::of(const QObject *object)
{
    for (; object; object = object->parent()) {
        const QVariant display = object->property(kDisplayProperty);
        if (display.isValid())
            return display.toString();
    }
    return QString();
}
