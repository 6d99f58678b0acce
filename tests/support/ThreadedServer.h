#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <list>
#include <thread>

// An HTTP server on 127.0.0.1 that answers from a thread per connection, as fast
// as the kernel takes the bytes: the client's event loop does not pace it. The
// answer is the responder's for the request line: a head, then body blocks until
// the body ends, the client goes or the server stops; then it closes.
class ThreadedServer
{
public:
    struct Answer {
        QByteArray head; // status line and headers, with the blank line
        // The next body block, given the body bytes written so far; empty ends the
        // body. On the connection's thread, once the block before is in the socket.
        std::function<QByteArray(qint64 written)> next;
    };
    using Responder = std::function<Answer(const QByteArray &requestLine)>;

    explicit ThreadedServer(Responder responder);
    ~ThreadedServer(); // stops every connection and joins its thread

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

private:
    void serve(int fd) const;

    Responder m_responder;
    int m_listenFd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    // The accept thread's own until it is joined: connections and their threads.
    std::list<int> m_fds;
    std::list<std::thread> m_threads;
    std::thread m_acceptThread;
};
