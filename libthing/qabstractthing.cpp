#include "qabstractthing.h"

QAbstractThing::QAbstractThing(QObject *parent) : QObject(parent) {}

QAbstractThing::~QAbstractThing() = default;

bool QAbstractThing::setRegidFromCid(const QString &cid)
{
    const bool ok = matches(cid);
    if (ok)
        setRegid(cid.split(QLatin1Char('_')).constLast());
    return ok;
}

void QAbstractThing::setRegid(const QString &regid)
{
    if (regid == m_regid)
        return;
    m_regid = regid;
    emit regidChanged(regid);
}

QString QAbstractThing::shortid() const
{
    const QString s = serial();
    return idOf(type(), version(), s.isEmpty() ? QStringLiteral("?") : s);
}

QString QAbstractThing::cloudid() const
{
    return idOf(type(), version(), serial()) + QLatin1Char('_') + regid();
}

QString QAbstractThing::idOf(const QString &type, const QString &version, const QString &serial)
{
    return type + QLatin1Char('_') + version + QLatin1Char('_') + serial;
}
