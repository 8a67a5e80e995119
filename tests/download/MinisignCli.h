#pragma once

// Signs files with the real minisign program, as the maker does for a release.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTest>

namespace minisigncli {

// The key pair whose public half the signed test configuration has built in.
inline QString testSecretKey() {
    return QStringLiteral(VANTRA_TEST_SIGNING_KEY);
}
inline QString testPublicKey() {
    return QStringLiteral(VANTRA_TEST_PUBLIC_KEY);
}

inline bool run(const QStringList& arguments) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VANTRA_TEST_MINISIGN), arguments);
    p.closeWriteChannel(); // password-less keys: nothing is asked
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("minisign %s: %s", qPrintable(arguments.join(u' ')), p.readAll().constData());
        return false;
    }
    return true;
}

inline QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The .minisig text for `file`: "ED" (prehashed) as minisign -S writes it, or
// the legacy "Ed" form of -l. Empty when minisign failed.
inline QByteArray sign(const QString& file, bool legacy = false,
                       const QString& secretKey = testSecretKey(),
                       const QString& trustedComment = {}) {
    const QString sig =
        file + (legacy ? QStringLiteral(".Ed.minisig") : QStringLiteral(".minisig"));
    QStringList args{QStringLiteral("-S"),
                     QStringLiteral("-s"),
                     secretKey,
                     QStringLiteral("-m"),
                     file,
                     QStringLiteral("-x"),
                     sig};
    if (legacy)
        args << QStringLiteral("-l");
    if (!trustedComment.isEmpty())
        args << QStringLiteral("-t") << trustedComment;
    QFile::remove(sig);
    return run(args) ? readAll(sig) : QByteArray();
}

// A fresh password-less key pair in `dir`; returns the secret key's path.
inline QString generateKeyPair(const QString& dir) {
    const QString secret = dir + QStringLiteral("/other.key");
    run({QStringLiteral("-G"), QStringLiteral("-f"), QStringLiteral("-W"), QStringLiteral("-p"),
         dir + QStringLiteral("/other.pub"), QStringLiteral("-s"), secret});
    return secret;
}

} // namespace minisigncli
