#include "integration/RunOnWSU.h"

#include "core/modINI.h"
#include "platform/AutostartStore.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString ownExecutableFileName()
{
    const QFileInfo exe(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return exe.completeBaseName() + QStringLiteral(".exe");
#else
    return exe.fileName();
#endif
}

} // namespace

RunOnWSU::RunOnWSU(AutostartStore &store, const QString &executableFileName)
    : m_store(store), m_executableFileName(executableFileName)
{}

QString RunOnWSU::RegisteredCommandLine() const
{
    const QString exe =
        m_executableFileName.isEmpty() ? ownExecutableFileName() : m_executableFileName;
    return m_store.commandLine(modINI::AppFolder() + exe, QStringLiteral("-systray"));
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
