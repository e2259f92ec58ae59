#include "core/Log.h"

#include <QVariant>

Q_LOGGING_CATEGORY(lcSync, "orvantide.sync", QtWarningMsg)

namespace {
/// The innermost scope's display on this thread. A plain pointer: a thread-local with a
/// destructor is freed twice at a thread's end by some Windows toolchains.
thread_local const QString *t_display = nullptr;
constexpr char kDisplayProperty[] = "orvantide.display";
} // namespace

LogScope::LogScope(const QString &display) : m_display(display), m_outer(t_display)
{
    t_display = &m_display;
}

LogScope::~LogScope()
{
    t_display = m_outer;
}

QString LogScope::current()
{
    return t_display ? *t_display : QString();
}

void LogScope::tag(QObject *object)
{
    if (t_display && !t_display->isEmpty())
        object->setProperty(kDisplayProperty, *t_display);
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
