#pragma once
// Other users of the machine, for tests run as root (root ignores file modes and
// ownership, so what another user may do shows only under another user ID).

#include <QByteArray>

#include <functional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace Users {

/// Two accounts that need no entry in /etc/passwd: the user whose files are at stake and
/// another member of the same group.
constexpr uid_t kUser = 64711;
constexpr uid_t kAttacker = 64712;

/// The group the package gives the settings folder.
inline gid_t dialout()
{
    const group *g = getgrnam("dialout");
    return g ? g->gr_gid : 20;
}

/// Runs `body` in a child process as `uid` (its primary group the same number, and
/// `groups`), and returns what it returns; "cannot become the user" when that fails.
/// `body` gets `pause`: calling it runs `meanwhile` in this process, then goes on.
inline QByteArray run(uid_t uid, const std::vector<gid_t> &groups,
                      const std::function<QByteArray(const std::function<void()> &pause)> &body,
                      const std::function<void()> &meanwhile = {})
{
    int toParent[2];
    int toChild[2];
    if (pipe(toParent) != 0 || pipe(toChild) != 0)
        return "no pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(toParent[0]);
        close(toChild[1]);
        QByteArray answer = "cannot become the user";
        if (setgroups(groups.size(), groups.data()) == 0 && setresgid(uid, uid, uid) == 0 &&
            setresuid(uid, uid, uid) == 0) {
            const auto pause = [&] {
                char c = 'p';
                (void)!write(toParent[1], &c, 1);
                (void)!read(toChild[0], &c, 1);
            };
            answer = body(pause);
        }
        const QByteArray message = 'R' + answer;
        (void)!write(toParent[1], message.constData(), size_t(message.size()));
        _exit(0);
    }
    close(toParent[1]);
    close(toChild[0]);
    QByteArray answer;
    char buffer[256];
    for (ssize_t n; (n = read(toParent[0], buffer, sizeof buffer)) > 0;) {
        answer.append(buffer, n);
        if (answer == "p") {
            answer.clear();
            if (meanwhile)
                meanwhile();
            (void)!write(toChild[1], "g", 1);
        }
    }
    close(toParent[0]);
    close(toChild[1]);
    waitpid(child, nullptr, 0);
    return answer.mid(1);
}

} // namespace Users
