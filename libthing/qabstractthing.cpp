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
    return QStringLiteral("%1_%2_%3").arg(type(), version(), s.isEmpty() ? QStringLiteral("?") : s);
}

QString QAbstractThing::cloudid() const
{
    return QStringLiteral("%1_%2_%3_%4").arg(type(), version(), serial(), regid());
}
