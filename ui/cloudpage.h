#pragma once

#include "cxgatewrunner.h"

#include <QWidget>

namespace Ui {
class MainWindow;
}

class RegistrationWizard;
class RunnerHost;

// The cloud page of the main window (its form's page "regPage"): the gateway's registration and
// credentials, the registration wizard with its buttons, the serial number once registered, and the
// gateway's reset.
class CloudPage : public QWidget
{
    Q_OBJECT

public:
    explicit CloudPage(QWidget *parent = nullptr);

    // Binds the page to the window's form (whose controls below this page it works on) and the runner;
    // connects its buttons and the wizard. The wizard starts on its first step.
    void attach(Ui::MainWindow *form, RunnerHost *host);

    RegistrationWizard *wizard() const { return m_wizard; }

public slots:
    // The page comes into view: the serial shown, the registration state asked anew.
    void opened();
    // Asks the runner for the credentials and the registration, and shows them.
    void refreshStatus();
    void showStatus(const CxgatewRunner::CloudStatus &status);
    // A wizard waiting on its first step asks for the registration state again: after start-up has
    // restored the pool, after a device was forgotten, after the gateway's reset.
    void refreshRegistrationState();
    // The same, keeping the first step's text until the answer is there (start-up, the page opened).
    void askRegistrationState();

signals:
    // A registration ended with success.
    void registered();
    // The runner's things changed so that the dashboard must be listed again.
    void thingsReset();
    void statusMessage(const QString &text, int timeoutMs);

private slots:
    void on_cloudGetCodeButton_clicked();
    void on_cloudCodeCopyButton_clicked();
    void on_cloudOpenTSLButton_clicked();
    void on_cloudRestartRegButton_clicked();
    // Voids the gateway's registration once the user has confirmed it.
    void on_settingsResetGWButton_clicked();

private:
    void showSerial();

    Ui::MainWindow *ui = nullptr;
    RunnerHost *m_host = nullptr;
    RegistrationWizard *m_wizard = nullptr;
};
