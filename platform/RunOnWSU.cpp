#include "platform/RunOnWSU.h"

#include "platform/AutostartStore.h"

RunOnWSU::RunOnWSU(AutostartStore &store, const QString &programPath)
    : m_store(store), m_programPath(programPath)
{}

QString RunOnWSU::RegisteredCommandLine() const
{
    return m_store.commandLine(m_programPath, QStringLiteral("-systray"));
}
bool RunOnWSU::EnableRunAtStartup(QString *error)
{
    return m_store.registerCommand(RegisteredCommandLine(), error);
}

bool RunOnWSU::DisableRunAtStartup(QString *error)
{
    return m_store.unregister(error);
}

bool RunOnWSU::CheckRunAtStartup() const
{
    const QString registered = m_store.registered();
    if (registered.isEmpty())
        return false;
#ifdef Q_OS_WIN
    // A registration written without quotes around a path with blanks still names this
    // program: Windows tries the path's words as a program name one by one until it
    // reaches it. Elsewhere such a line names another program.
    if (registered == m_programPath + QStringLiteral(" -systray"))
        return true;
#endif
    return registered == RegisteredCommandLine();
}
