#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

// One request as the test server received it.
struct HttpRecordedRequest
{
    QByteArray method;                            // "GET"
    QByteArray target;                            // request target exactly as sent, e.g. "/events?doc=ab%3D"
    QString path;                                 // decoded path of the target
    QUrlQuery query;                              // query of the target
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;                              // Content-Length bytes after the head, if any

    // Value of the first header with this name (case-insensitive), or a null array.
    QByteArray header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return {};
    }
    bool hasHeader(const QByteArray &name) const { return !header(name).isNull(); }
};
