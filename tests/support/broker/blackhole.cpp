#include "blackhole.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BlackHole::BlackHole()
{
    m_listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    // Backlog 0 leaves room for exactly one pending connection: the filler takes it.
    if (m_listener < 0 || bind(m_listener, reinterpret_cast<sockaddr *>(&addr), len) != 0 ||
        listen(m_listener, 0) != 0 || getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
        return;
    m_filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_filler < 0)
        return;
    if (connect(m_filler, reinterpret_cast<sockaddr *>(&addr), len) != 0) {
        pollfd p{m_filler, POLLOUT, 0};
        int soError = 0;
        socklen_t soLen = sizeof soError;
        if (poll(&p, 1, 2000) != 1 || getsockopt(m_filler, SOL_SOCKET, SO_ERROR, &soError, &soLen) != 0 ||
            soError != 0)
            return;
    }
    m_port = ntohs(addr.sin_port);
}

BlackHole::~BlackHole()
{
    if (m_filler >= 0)
        close(m_filler);
    if (m_listener >= 0)
        close(m_listener);
}
