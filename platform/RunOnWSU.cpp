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
    return !registered.isEmpty() && registered == RegisteredCommandLine();
}
