#pragma once

#include <QtGlobal>

// A 127.0.0.1 port where connection attempts are never answered, like an unreachable broker: the
// port listens with a full backlog and never accepts, so a client's SYN is dropped and its connect
// stays pending until it gives up by itself.
//
//   BlackHole hole;
//   QVERIFY(hole.isValid());
//   connection.setPort(hole.port());
class BlackHole
{
public:
    BlackHole();
    ~BlackHole();

    bool isValid() const { return m_port != 0; }
    quint16 port() const { return m_port; }

    BlackHole(const BlackHole &) = delete;
    BlackHole &operator=(const BlackHole &) = delete;

private:
    int m_listener = -1;
    int m_filler = -1;
    quint16 m_port = 0;
};
