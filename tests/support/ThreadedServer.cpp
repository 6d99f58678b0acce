#include "support/ThreadedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace
{
constexpr int kPollMs = 20; // how soon a connection notices the stop
}

ThreadedServer::ThreadedServer(Responder responder) : m_responder(std::move(responder))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ThreadedServer::~ThreadedServer()
{
    m_stop = true;
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    std::lock_guard lock(m_threadsMutex);
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
    for (int slept = 0; slept < ms && !m_stop; slept += kPollMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPollMs, ms - slept)));
    return !m_stop;
}

void ThreadedServer::acceptLoop()
{
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_connections;
        ++m_open;
        std::lock_guard lock(m_threadsMutex);
        m_threads.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
            --m_open;
        });
    }
}

void ThreadedServer::serve(int fd)
{
    QByteArray head;
    while (!m_stop && !head.contains("\r\n\r\n")) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        head.append(buffer, got);
    }
    if (m_stop)
        return;
    const Answer answer = m_responder(head.left(head.indexOf("\r\n")));
    // Writes all of bytes unless the client goes or the server stops.
    const auto writeAll = [&](const QByteArray &bytes) {
        qsizetype at = 0;
        while (at < bytes.size()) {
            if (m_stop)
                return false;
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, kPollMs) <= 0)
                continue;
            if (p.revents & (POLLERR | POLLHUP))
                return false;
            const ssize_t sent = ::send(fd, bytes.constData() + at, size_t(bytes.size() - at),
                                        MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (sent <= 0)
                return false;
            at += sent;
            m_bytesWritten += sent;
        }
        return true;
    };
    if (!writeAll(answer.head) || !answer.next)
        return;
    qint64 written = 0;
    for (;;) {
        const QByteArray block = answer.next(written);
        if (block.isEmpty() || !writeAll(block))
            return;
        written += block.size();
    }
}
