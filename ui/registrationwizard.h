#pragma once

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QUrl>

class QAbstractButton;
class QCountDownLCD;
class QLCDNumber;
class QLabel;
class QListWidget;
class QStackedWidget;
class QWidget;

// The registration wizard of the cloud page: the step shown, the names asked before a registration,
// the code with its count-down, the registered things or the error. It works on the window's form
// widgets and asks for the runner's operations through its signals; the window forwards those to
// the runner in the order they are emitted, so renames always go ahead of the next generateDoc.
class RegistrationWizard : public QObject
{
    Q_OBJECT

public:
    // The pages of the wizard, in the order of the stacked widget.
    enum Step { Serial, Connecting, Code, Finished };
    Q_ENUM(Step)

    struct Widgets
    {
        QLabel *header;
        QStackedWidget *pages;
        QAbstractButton *start;
        QLCDNumber *code;
        QCountDownLCD *countdown;
        QListWidget *results;
    };

    // window parents the name dialogs and the error box.
    RegistrationWizard(const Widgets &widgets, QWidget *window);

    // Shows a step with its title; entering Serial clears the results and asks for the registration
    // state, with "Start" disabled until it arrives.
    void setStep(Step step);
    Step step() const;

    // "Start": connect and ask for a registration document.
    void start();
    // The code shown, in decimal, to the clipboard.
    void copyCode();
    // The portal page where the code is entered: cloud address and page path read from the settings.
    void openPortal();

    // Completions of the runner.
    void showRegistrationState(int state);
    void askNames(const QStringList &shortIds);
    void showCode(const QJsonObject &code);
    void showResult(const QJsonObject &result);

    // A proposed alias: the type, "_" and four letters drawn from a generator seeded with the time in
    // whole seconds, so things asked for within the same second get the same proposal.
    static QString defaultAlias(const QString &type, qint64 seconds);
    // The text lines of a successful registration result.
    static QStringList resultLines(const QJsonObject &result);
    static QUrl portalUrl(const QString &cloud, const QString &page);

signals:
    void generateDocRequested();
    void registrationStateRequested();
    void renameRequested(const QString &shortId, const QString &alias);
    // A registration ended with success; the things are registered.
    void registered();
    void statusMessage(const QString &text, int timeoutMs);

private:
    Widgets m_ui;
    QWidget *m_window;
};
