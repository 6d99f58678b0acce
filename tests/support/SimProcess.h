#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Runs the camera-box simulator on 127.0.0.1 with a free port, for tests
// that need the real thing. The binary's path comes from ORBILENS_SIM, which
// CTest sets.
class SimProcess
{
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts it with the given extra arguments and waits until it listens.
    bool start(const QStringList &arguments = {});
    void kill();
    quint16 port() const { return m_port; }
    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }
    QProcess &process() { return m_process; }
    // The lens position last printed by a simulator started with
    // --report-focus; -1 before it has moved.
    int reportedFocus();

    static QString binary();

private:
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_output; // stdout after the listening line
};
