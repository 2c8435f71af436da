#include "qautostarter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

QAutoStarter::QAutoStarter(const QString &name, const QString &icon, QObject *parent)
    : QObject(parent), m_name(name), m_icon(icon)
{
}

QString QAutoStarter::executablePath()
{
    const QString image = QString::fromUtf8(qgetenv("APPIMAGE"));
    return image.isEmpty() ? QCoreApplication::applicationFilePath() : image;
}

// Desktop entries read the Exec value twice: first as a string (backslash escapes), then as a
// command line (double quotes, with \ " ` $ escaped inside them), and "%" starts a field code.
QString QAutoStarter::execValue(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    QString arg = path;
    arg.replace(QLatin1Char('%'), QStringLiteral("%%"));
    const bool quote = std::any_of(arg.cbegin(), arg.cend(), [](QChar c) { return reserved.contains(c); });
    if (quote) {
        QString quoted = QStringLiteral("\"");
        for (const QChar c : qAsConst(arg)) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        arg = quoted + QLatin1Char('"');
    }
    QString value;
    for (const QChar c : qAsConst(arg)) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else
            value += c;
    }
    return value;
}

QString QAutoStarter::autostartDir() const
{
    return QDir::homePath() + QStringLiteral("/.config/autostart");
}

QString QAutoStarter::entryPath() const
{
    return autostartDir() + QLatin1Char('/') + m_name + QStringLiteral(".desktop");
}

QString QAutoStarter::iconCopyPath() const
{
    return autostartDir() + QLatin1Char('/') + QFileInfo(m_icon).fileName();
}

bool QAutoStarter::autostartSet() const
{
    return QFile::exists(entryPath());
}

void QAutoStarter::setAutostart(bool on)
{
    const QString exec = execValue(executablePath());
    const QString entry = entryPath();
    if (!on) {
        QFile::remove(entry);
        return;
    }
    if (!QDir().mkpath(autostartDir()))
        return;
    QFile file(entry);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    const bool hasIcon = !m_icon.isEmpty() && QFile::exists(m_icon);
    if (hasIcon)
        QFile::copy(m_icon, iconCopyPath()); // an existing copy stays as it is

    QString content = QStringLiteral("[Desktop Entry]\nType=Application\nName=Gauvik\nExec=") + exec;
    if (hasIcon)
        content += QStringLiteral("\nIcon=") + iconCopyPath() + QLatin1Char('\n');
    else
        content += QLatin1Char('\n');
    content += QStringLiteral("Categories=System;Monitor;\n");
    file.write(content.toUtf8());
    file.close();
}

void QAutoStarter::checkAutostart()
{
    QFile file(entryPath());
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return;
    QByteArray bytes = file.readAll();
    file.close();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    const QString text = QString::fromUtf8(bytes);

    static const QRegularExpression execLine(QStringLiteral("Exec=([^\n]*)\n"),
                                             QRegularExpression::InvertedGreedinessOption);
    const QRegularExpressionMatch first = execLine.match(text);
    if (!first.hasMatch())
        return;
    const QString exec = execValue(executablePath());
    if (first.captured(1) == exec)
        return;

    // Every Exec line is rewritten; the replacement is taken literally (no back-references).
    const QString line = QStringLiteral("Exec=%1\n").arg(exec);
    QString rewritten;
    int from = 0;
    for (auto it = execLine.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        rewritten += text.midRef(from, m.capturedStart() - from);
        rewritten += line;
        from = m.capturedEnd();
    }
    rewritten += text.midRef(from);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    file.write(rewritten.toUtf8());
    file.close();
}
