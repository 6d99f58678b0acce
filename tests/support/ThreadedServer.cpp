#include "support/ThreadedServer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace
{

constexpr int kWaitMs = 20; // how soon a blocked accept, recv or send notices the stop

int withTimeouts(int fd)
{
    const timeval wait{0, kWaitMs * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    return fd;
}

// The call failed for another reason than its time-out.
bool failed(ssize_t result)
{
    return result == 0 || (result < 0 && errno != EAGAIN && errno != EINTR);
}

} // namespace

ThreadedServer::ThreadedServer(Responder responder) : m_responder(std::move(responder))
{
    m_listenFd = withTimeouts(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto *a = reinterpret_cast<sockaddr *>(&address);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, a, length) != 0 || ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, a, &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] {
        while (!m_stop) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            ++m_connections;
            ++m_open;
            m_threads.emplace_back([this, fd] {
                serve(withTimeouts(fd));
                ::close(fd);
                --m_open;
            });
        }
    });
}

ThreadedServer::~ThreadedServer()
{
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    for (std::thread &t : m_threads)
        t.join();
    if (m_listenFd >= 0)
        ::close(m_listenFd);
}

QString ThreadedServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_port);
}

bool ThreadedServer::sleepFor(int ms) const
{
    for (int slept = 0; slept < ms && !m_stop; slept += kWaitMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kWaitMs, ms - slept)));
    return !m_stop;
}

void ThreadedServer::serve(int fd)
{
    QByteArray head;
    char buffer[4096];
    while (!head.contains("\r\n\r\n")) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (m_stop || failed(got))
            return;
        head.append(buffer, std::max<ssize_t>(got, 0));
    }
    const Answer answer = m_responder(head.left(head.indexOf("\r\n")));
    // All of bytes, unless the client goes or the server stops.
    const auto writeAll = [&](const QByteArray &bytes) {
        for (qsizetype at = 0; at < bytes.size();) {
            const ssize_t sent =
                ::send(fd, bytes.constData() + at, size_t(bytes.size() - at), MSG_NOSIGNAL);
            if (m_stop || failed(sent))
                return false;
            at += std::max<ssize_t>(sent, 0);
            m_bytesWritten += std::max<ssize_t>(sent, 0);
        }
        return true;
    };
    if (!writeAll(answer.head) || !answer.next)
        return;
    for (qint64 written = 0;;) {
        const QByteArray block = answer.next(written);
        if (block.isEmpty() || !writeAll(block))
            return;
        written += block.size();
    }
}
