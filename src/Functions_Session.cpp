#include "Functions_Session.h"

#include "Functions_Files.h"

#include <QDir>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

bool bUser_Of_Session(uid_t *puiUser, gid_t *puiGroup, QString *pqsHome)
{
    for (const char *pcName : {"PKEXEC_UID", "SUDO_UID"}) {
        const QByteArray qbaValue = qgetenv(pcName);
        if (qbaValue.isEmpty())
            continue;
        // Digits only: toUInt would take " 1000" or "+1000" as well.
        for (const char c : qbaValue)
            if (c < '0' || c > '9')
                return false;
        bool bNumber = false;
        const uint uiUser = qbaValue.toUInt(&bNumber);
        if (!bNumber || uiUser == 0)
            return false;
        struct passwd strEntry, *pstrFound = nullptr;
        char acBuffer[4096];
        if (getpwuid_r(uid_t(uiUser), &strEntry, acBuffer, sizeof acBuffer, &pstrFound) != 0 || !pstrFound)
            return false;
        *puiUser = pstrFound->pw_uid;
        *puiGroup = pstrFound->pw_gid;
        *pqsHome = QFile::decodeName(pstrFound->pw_dir);
        return true;
    }
    return false;
}

QString qsSave_Directory()
{
    uid_t uiUser = 0;
    gid_t uiGroup = 0;
    QString qsHome;
    if (bUser_Of_Session(&uiUser, &uiGroup, &qsHome) && QDir(qsHome).exists())
        return qsHome;
    return QDir::currentPath();
}

bool bGive_To_User(const QString &qsPath, QString *pqsError)
{
    uid_t uiUser = 0;
    gid_t uiGroup = 0;
    QString qsHome;
    // Only root can give a file away; anyone else saved it as their own already.
    if (geteuid() != 0 || !bUser_Of_Session(&uiUser, &uiGroup, &qsHome))
        return true;
    // Opened without following a link, so the owner changes on the file saved, nothing else.
    const int iFD = open(QFile::encodeName(qsPath).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (iFD < 0) {
        *pqsError = qsSystem_Reason(errno);
        return false;
    }
    struct stat strFile;
    bool bOk = fstat(iFD, &strFile) == 0;
    if (bOk && !S_ISREG(strFile.st_mode))
        errno = EINVAL;
    bOk = bOk && S_ISREG(strFile.st_mode) && fchown(iFD, uiUser, uiGroup) == 0;
    if (!bOk)
        *pqsError = qsSystem_Reason(errno);
    close(iFD);
    return bOk;
}
