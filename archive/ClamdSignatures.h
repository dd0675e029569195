// The key of the signature set a virus scanner daemon (clamd) scans with,
// under which scan results are kept (server/wcsrv.h, WcGetScanResult): a
// result counts again only while the key is the same. No widgets.
//
// The key is made of:
//  - the daemon's VERSION answer ("ClamAV 1.0.7/27480/Tue Dec 10 ..."),
//    whose middle part is the version of the official databases loaded;
//  - a fingerprint of the signature files in the daemon's database folder
//    (each file's name, size and last write time), when that folder can be
//    found and read: the daemon's process is found through its socket, its
//    configuration file through the process's command line (or Debian's
//    /etc/clamav/clamd.conf), the folder through its DatabaseDirectory.
// The fingerprint catches signatures of one's own (.ndb, .hdb, ...), which
// change no version; VERSION catches a reload of new files. A daemon that
// reports no database version and whose folder can't be read gives no key:
// nothing is kept then, and every scan reads every file.
//
// A daemon that has not yet reloaded changed files (it checks them every
// SelfCheck seconds) scans with the old signatures under the new key until
// it does, when its database version is not in VERSION; `clamdscan
// --reload` (or the RELOAD command) closes that gap.
#pragma once

#include "archive/ClamdClient.h"

#include <QByteArray>
#include <QString>

// The key's longest form: the record field holds 127 bytes and a NUL.
inline constexpr int MaxSignatureKeyBytes = 127;

struct ClamdSignatureKey {
    bool ok = false; // the daemon answered VERSION
    QString message; // why not `ok`, naming the socket
    QString version; // VERSION's answer
    // The signature files' folder that was read, or "" when none could be.
    QString databaseFolder;
    int databaseFiles = 0; // signature files in it
    // The key (at most MaxSignatureKeyBytes bytes), or "" when results
    // can't be kept for this daemon.
    QByteArray key;
    // In words, for the run's report: "signatures: ClamAV 1.0.7/27480,
    // 3 files in /var/lib/clamav".
    QString Text() const;
};

ClamdSignatureKey ReadClamdSignatureKey(const ClamdClient& client);

// ---- the pieces, for the tests ----------------------------------------------

// The process id of the daemon listening on the socket (the peer's
// credentials), or 0.
qint64 ClamdDaemonPid(const QString& socketPath);
// The configuration file the process `pid` was started with
// (--config-file=FILE, --config-file FILE or -c FILE), else Debian's
// /etc/clamav/clamd.conf. A process that is not clamd (systemd holding the
// socket for it) gives that default too.
QString ClamdConfigOfProcess(qint64 pid);
// The DatabaseDirectory a clamd.conf names, else clamd's default
// /var/lib/clamav.
QString ClamdDatabaseFolder(const QByteArray& config);
// The fingerprint of the signature files in `folder` (16 bytes of a
// SHA-256, in hex) and their count; "" when the folder can't be read or
// holds none.
QByteArray SignatureFilesFingerprint(const QString& folder, int* files = nullptr);
// The key made of the two parts (the version cut to fit).
QByteArray MakeSignatureKey(const ClamdVersion& version, const QByteArray& fingerprint);
