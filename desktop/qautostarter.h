#pragma once

#include <QObject>
#include <QString>

// Writes, checks and removes the desktop entry in ~/.config/autostart that starts the gateway at
// log-in, and keeps its Exec line pointing at the running executable (or at the AppImage file the
// program was started from). File-system failures end an operation silently.
class QAutoStarter : public QObject
{
    Q_OBJECT

public:
    QAutoStarter(const QString &name, const QString &icon, QObject *parent = nullptr);

    Q_INVOKABLE bool autostartSet() const;
    Q_INVOKABLE void setAutostart(bool on);
    Q_INVOKABLE void checkAutostart();

    // The executable the entry starts: $APPIMAGE when set, else the application's own file.
    static QString executablePath();
    // The path as an Exec value: quoted and escaped only when it holds reserved characters.
    static QString execValue(const QString &path);

private:
    QString autostartDir() const;
    QString entryPath() const;
    QString iconCopyPath() const;

    QString m_name;
    QString m_icon;
};
