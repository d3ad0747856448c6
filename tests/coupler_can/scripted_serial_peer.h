#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// The far end of a pseudo-terminal that the COM-port table names "COM<n>": a test reads what the
// updater sent and scripts the coupler's reply byte for byte.
class ScriptedSerialPeer
{
public:
    // Links COM<portNumber> in a fresh directory and points TARNLOW_COM_DIR at it.
    explicit ScriptedSerialPeer(int portNumber);
    ~ScriptedSerialPeer();

    bool isReady() const { return m_master >= 0; }
    // Exactly `count` bytes the updater wrote (waits up to a second); fewer when none came.
    QByteArray take(int count);
    void reply(const QByteArray &bytes);
    // Sends `first`, then `rest` after `gapMs` from another thread (while the updater waits).
    void replyInPieces(const QByteArray &first, const QByteArray &rest, int gapMs);
    QString comDirectory() const { return m_directory.path(); }

private:
    QTemporaryDir m_directory;
    int m_master = -1;
    int m_keepOpen = -1;
};
