#include "support/ThreadedServer.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

ThreadedServer::ThreadedServer(Responder responder) : m_responder(std::move(responder))
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    auto *a = reinterpret_cast<sockaddr *>(&address);
    socklen_t length = sizeof address;
    if (::bind(m_listenFd, a, length) != 0 || ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, a, &length) != 0)
        return;
    m_port = ntohs(address.sin_port);
    m_acceptThread = std::thread([this] {
        while (!m_stop) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                m_fds.push_back(fd);
                m_threads.emplace_back([this, fd] { serve(fd); });
            }
        }
    });
}

ThreadedServer::~ThreadedServer()
{
    // A shut-down socket ends the accept, receive or send waiting on it.
    m_stop = true;
    ::shutdown(m_listenFd, SHUT_RDWR);
    if (m_acceptThread.joinable())
        m_acceptThread.join();
    for (int fd : m_fds)
        ::shutdown(fd, SHUT_RDWR);
    for (std::thread &t : m_threads)
        t.join();
    for (int fd : m_fds)
        ::close(fd);
    ::close(m_listenFd);
}

void ThreadedServer::serve(int fd) const
{
    QByteArray head;
    char buffer[4096];
    for (ssize_t got = 0; !head.contains("\r\n\r\n"); head.append(buffer, got))
        if ((got = ::recv(fd, buffer, sizeof buffer, 0)) <= 0)
            return;
    const Answer answer = m_responder(head.left(head.indexOf("\r\n")));
    const auto sendAll = [fd](QByteArrayView bytes) {
        for (ssize_t sent = 0; !bytes.isEmpty(); bytes = bytes.sliced(sent))
            if ((sent = ::send(fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL)) <= 0)
                return false;
        return true;
    };
    bool open = sendAll(answer.head);
    for (qint64 written = 0; open && answer.next && !m_stop;) {
        const QByteArray block = answer.next(written);
        open = !block.isEmpty() && sendAll(block);
        written += block.size();
    }
    ::shutdown(fd, SHUT_RDWR); // the answer's end; the socket is closed with the server
}
