#pragma once

#include <QObject>

class HttpConnection;
class Registrar;

// The portal's registration page: GET /things shows a form for the code, POST /things confirms it
// (form field "code", or ?code= for scripts).
class Portal : public QObject
{
    Q_OBJECT
public:
    explicit Portal(Registrar *registrar, QObject *parent = nullptr);

    void handle(HttpConnection *connection);

private:
    Registrar *m_registrar;
};
