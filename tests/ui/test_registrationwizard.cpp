#include "appidentity.h"
#include "cxgatewrunner.h"
#include "qcountdownlcd.h"
#include "registrationwizard.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLinkButton>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

namespace {

// Answers the modal dialogs opened from now on, one answer each, recording title and text.
class Modals : public QObject
{
public:
    QStringList seen;
    QList<std::function<void(QWidget *)>> answers;
    Modals()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            QWidget *w = QApplication::activeModalWidget();
            if (!w || answers.isEmpty() || w->property("answered").toBool())
                return;
            w->setProperty("answered", true);
            if (auto *box = qobject_cast<QMessageBox *>(w))
                seen << box->windowTitle() + '|' + box->text();
            if (auto *input = qobject_cast<QInputDialog *>(w))
                seen << input->windowTitle() + '|' + input->labelText() + '|' + input->textValue() + '|' +
                            input->findChild<QLineEdit *>()->accessibleName();
            answers.takeFirst()(w);
        });
        m_timer.start(10);
    }
    static std::function<void(QWidget *)> enter(const QString &text)
    {
        return [text](QWidget *w) {
            auto *input = qobject_cast<QInputDialog *>(w);
            input->setTextValue(text);
            input->accept();
        };
    }
    static void dismiss(QWidget *w) { qobject_cast<QDialog *>(w)->reject(); }

private:
    QTimer m_timer;
};

struct Form : QWidget
{
    QLabel header;
    QStackedWidget pages;
    QCommandLinkButton start;
    QLCDNumber code{9};
    QCountDownLCD countdown;
    QListWidget results;
    RegistrationWizard wizard{{&header, &pages, &start, &code, &countdown, &results}, this};
    // What the wizard asked of the runner, in order.
    QStringList requests;

    Form()
    {
        for (int i = 0; i < 4; ++i)
            pages.addWidget(new QWidget);
        connect(&wizard, &RegistrationWizard::generateDocRequested, [this] { requests << "generateDoc"; });
        connect(&wizard, &RegistrationWizard::registrationStateRequested,
                [this] { requests << "registrationState"; });
        connect(&wizard, &RegistrationWizard::renameRequested,
                [this](const QString &sid, const QString &alias) { requests << sid + '=' + alias; });
    }
};

} // namespace

// Stands in for the desktop's URL handler.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class TestRegistrationWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { setApplicationIdentity(); }

    void stepsFollowTheRegistrationState()
    {
        Form form;
        form.results.addItem("old");
        form.wizard.setStep(RegistrationWizard::Serial);
        QCOMPARE(form.header.text(), QStringLiteral("Querying..."));
        QVERIFY(!form.start.isEnabled());
        QCOMPARE(form.results.count(), 0);
        QCOMPARE(form.requests, QStringList({"registrationState"}));

        form.wizard.showRegistrationState(CxgatewRunner::Complete);
        QCOMPARE(form.header.text(), QStringLiteral("Your registration process is complete"));
        QVERIFY(!form.start.isEnabled());
        form.wizard.showRegistrationState(CxgatewRunner::PartiallyRegistered);
        QCOMPARE(form.header.text(), QStringLiteral("Step 1. Fill in the thing names"));
        QVERIFY(form.start.isEnabled());

        form.wizard.start();
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Connecting));
        QCOMPARE(form.header.text(), QStringLiteral("Step 2. Connecting to the cloud"));
        QCOMPARE(form.requests.last(), QStringLiteral("generateDoc"));
        // Away from the first step a late state changes nothing.
        form.wizard.showRegistrationState(CxgatewRunner::Complete);
        QCOMPARE(form.header.text(), QStringLiteral("Step 2. Connecting to the cloud"));
    }

    void namesAreAskedBeforeTheDocument()
    {
        QCOMPARE(RegistrationWizard::defaultAlias("thx9", 1700000000),
                 RegistrationWizard::defaultAlias("thx9", 1700000000));
        QVERIFY(QRegularExpression("^thx9_[A-Za-z]{4}$")
                    .match(RegistrationWizard::defaultAlias("thx9", 1700000000))
                    .hasMatch());
        QSet<QString> proposals;
        for (qint64 second = 0; second < 20; ++second)
            proposals.insert(RegistrationWizard::defaultAlias("x", second));
        QVERIFY(proposals.size() > 15);

        Form form;
        Modals modals;
        // Cancelling the second of three renames only the first and goes back to the first step.
        modals.answers = {Modals::enter("first"), Modals::dismiss};
        form.wizard.askNames({"gateway_200_G1", "thx9_100_<i>S1", "vgl5_100_W1"});
        QCOMPARE(form.requests, QStringList({"gateway_200_G1=first", "registrationState"}));
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Serial));
        QCOMPARE(modals.seen.size(), 2);
        const QStringList second = modals.seen.at(1).split('|');
        QCOMPARE(second.at(0), QStringLiteral("Thing Name"));
        QCOMPARE(second.at(1),
                 QStringLiteral("Please fill the alias for<br><b>thx9 / &lt;i&gt;S1</b><br>Note: "
                                "the alias must be unique among all the devices registered "
                                "to your account."));
        QVERIFY(second.at(2).startsWith("thx9_"));
        // The field is named by the question as plain text.
        QCOMPARE(second.at(3),
                 QStringLiteral("Please fill the alias for thx9 / <i>S1 Note: the alias must be "
                                "unique among all the devices registered to your account."));

        // All answered, an empty name too: the renames go ahead of the new document request.
        form.requests.clear();
        modals.answers = {Modals::enter("a"), Modals::enter("")};
        form.wizard.askNames({"thx9_100_S1", "vgl5_100_W1"});
        QCOMPARE(form.requests, QStringList({"thx9_100_S1=a", "vgl5_100_W1=", "generateDoc"}));
        form.requests.clear();
        form.wizard.askNames({});
        QCOMPARE(form.requests, QStringList({"generateDoc"}));
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Connecting));
    }

    void codeAndOutcome()
    {
        Form form;
        QSignalSpy status(&form.wizard, &RegistrationWizard::statusMessage);
        QSignalSpy registered(&form.wizard, &RegistrationWizard::registered);
        form.wizard.showCode(QJsonObject{{"value", 12345}, {"timeout", 60}});
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Code));
        QCOMPARE(form.header.text(), QStringLiteral("Step 3. Enter the code in the cloud"));
        QCOMPARE(form.code.intValue(), 12345);
        QVERIFY(form.countdown.isCounting());
        QCOMPARE(form.countdown.remaining(), 60);
        form.wizard.copyCode();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("12345"));
        QCOMPARE(status.value(0), QVariantList({"Code copied to clipboard", 1500}));

        QSettings().setValue("Web/Cloud", "http://127.0.0.1:8080");
        UrlCatcher handler;
        QDesktopServices::setUrlHandler("http", &handler, "open");
        form.wizard.openPortal();
        QDesktopServices::unsetUrlHandler("http");
        QCOMPARE(handler.opened, QList<QUrl>({QUrl("http://127.0.0.1:8080/things")}));

        form.wizard.showResult(QJsonObject{
            {"id", "gateway_200_G1_r0"},
            {"alias", "gate"},
            {"fleet", QJsonArray{QJsonObject{{"alias", "probe"}, {"id", "thx9_100_S1_r1"}}, QJsonObject()}}});
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Finished));
        QCOMPARE(form.header.text(), QStringLiteral("Step 4. Finish"));
        QVERIFY(!form.countdown.isCounting());
        QCOMPARE(registered.count(), 1);
        QStringList lines;
        for (int i = 0; i < form.results.count(); ++i)
            lines << form.results.item(i)->text();
        QCOMPARE(lines, QStringList({"gate (gateway): gateway_200_G1_r0", "probe: thx9_100_S1_r1", ": "}));
        QCOMPARE(RegistrationWizard::resultLines(QJsonObject{{"id", "g"}, {"fleet", QJsonArray{}}}),
                 QStringList());

        Modals modals;
        modals.answers = {[](QWidget *w) { qobject_cast<QMessageBox *>(w)->accept(); }};
        form.wizard.showResult(QJsonObject{{"error", "Busy with another request"}, {"code", 409}});
        QCOMPARE(modals.seen, QStringList({"Registration Error|Registation has completed with an error.<br>"
                                           "Busy with another request (409)"}));
        QCOMPARE(form.pages.currentIndex(), int(RegistrationWizard::Serial));
        QCOMPARE(registered.count(), 1);
    }
};

QTEST_MAIN(TestRegistrationWizard)
#include "test_registrationwizard.moc"
