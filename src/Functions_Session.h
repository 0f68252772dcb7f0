#ifndef FUNCTIONS_SESSION_H
#define FUNCTIONS_SESSION_H

#include <QString>

#include <sys/types.h>

// The person behind the tool: it runs as root (pkexec, sudo), yet what it saves for them
// belongs to them, and without root it tells them how to get it.

// The user who started the tool through pkexec (PKEXEC_UID) or sudo (SUDO_UID), with their
// group and home directory. False when there is none: run directly, as root or not, or a
// variable that is not a plain decimal number of a known user.
bool bUser_Of_Session(uid_t *puiUser, gid_t *puiGroup, QString *pqsHome);
// Where a save dialog starts: that user's home, else the working directory.
QString qsSave_Directory();
// Gives a file the tool, as root, has just saved to that user, without following a link. True
// when there is no such user, the tool is not root, or the file is theirs now; else false with
// the reason.
bool bGive_To_User(const QString &qsPath, QString *pqsError);

#endif // FUNCTIONS_SESSION_H
