#include "support/SimProcess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

SimProcess::~SimProcess()
{
    kill();
}

QString SimProcess::binary()
{
    return qEnvironmentVariable("ORBILENS_SIM");
}

bool SimProcess::start(const QStringList &arguments)
{
    if (binary().isEmpty())
        return false;
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(binary(),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    // The simulator prints "listening on 127.0.0.1:PORT" once it accepts.
    static const QRegularExpression listening(
        QStringLiteral("listening on 127\\.0\\.0\\.1:(\\d+)"));
    QByteArray seen;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(deadline.remainingTime())))
            break;
        seen += m_process.readAllStandardOutput();
        const auto match = listening.match(QString::fromUtf8(seen));
        if (match.hasMatch()) {
            m_port = quint16(match.captured(1).toUInt());
            return true;
        }
    }
    return false;
}

void SimProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

int SimProcess::reportedFocus()
{
    m_output += m_process.readAllStandardOutput();
    static const QRegularExpression report(QStringLiteral("focus position (\\d+)\\n"));
    int last = -1;
    for (auto it = report.globalMatch(QString::fromUtf8(m_output)); it.hasNext();)
        last = it.next().captured(1).toInt();
    return last;
}
