#include "registrationwizard.h"

#include "cxgatewrunner.h"
#include "cxsettings.h"
#include "qcountdownlcd.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDateTime>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QInputDialog>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QRandomGenerator>
#include <QStackedWidget>
#include <QTextDocumentFragment>

namespace {
constexpr int CopiedMessageMs = 1500;
constexpr int AliasLetters = 4;

// QInputDialog::getText() with the field named by the question as plain text on one line: the dialog
// would name it by the label's markup. False when cancelled or when the dialog went away with its parent.
bool askText(QWidget *parent, const QString &title, const QString &question, QString *text)
{
    const QPointer<QInputDialog> dialog = new QInputDialog(parent);
    dialog->setWindowTitle(title);
    dialog->setLabelText(question);
    dialog->setTextValue(*text);
    if (auto *field = dialog->findChild<QLineEdit *>()) {
        QString name = QTextDocumentFragment::fromHtml(question).toPlainText();
        name.replace(QChar::LineSeparator, QLatin1Char(' '))
            .replace(QChar::ParagraphSeparator, QLatin1Char(' '));
        field->setAccessibleName(name.simplified());
    }
    const bool accepted = dialog->exec() == QDialog::Accepted && dialog;
    if (dialog) {
        *text = dialog->textValue();
        delete dialog;
    }
    return accepted;
}
} // namespace

RegistrationWizard::RegistrationWizard(const Widgets &widgets, QWidget *window)
    : QObject(window), m_ui(widgets), m_window(window)
{
}

RegistrationWizard::Step RegistrationWizard::step() const
{
    return Step(m_ui.pages->currentIndex());
}

void RegistrationWizard::setStep(Step step)
{
    if (step != Code)
        m_ui.countdown->stop();
    switch (step) {
    case Serial:
        m_ui.results->clear();
        m_ui.header->setText(tr("Querying..."));
        m_ui.start->setEnabled(false);
        emit registrationStateRequested();
        break;
    case Connecting:
        m_ui.header->setText(tr("Step 2. Connecting to the cloud"));
        break;
    case Code:
        m_ui.header->setText(tr("Step 3. Enter the code in the cloud"));
        break;
    case Finished:
        m_ui.header->setText(tr("Step 4. Finish"));
        break;
    }
    m_ui.pages->setCurrentIndex(step);
}

void RegistrationWizard::start()
{
    setStep(Connecting);
    emit generateDocRequested();
}

void RegistrationWizard::showRegistrationState(int state)
{
    if (step() != Serial)
        return;
    const bool complete = state == CxgatewRunner::Complete;
    m_ui.header->setText(complete ? tr("Your registration process is complete")
                                  : tr("Step 1. Fill in the thing names"));
    m_ui.start->setEnabled(!complete);
}

QString RegistrationWizard::defaultAlias(const QString &type, qint64 seconds)
{
    QRandomGenerator generator{quint32(quint64(seconds))};
    QString letters;
    for (int i = 0; i < AliasLetters; ++i) {
        const quint32 caseDraw = generator.generate();
        const quint32 r = generator.generate();
        const QChar letter(char16_t(u'A' + int((quint64(26) * r) >> 32)));
        letters.append((caseDraw & 0x80000000u) ? letter.toLower() : letter);
    }
    return type + QLatin1Char('_') + letters;
}

void RegistrationWizard::askNames(const QStringList &shortIds)
{
    // The dialogs run nested event loops; the window may go away meanwhile.
    const QPointer<RegistrationWizard> self(this);
    for (const QString &shortId : shortIds) {
        const QStringList parts = shortId.split(QLatin1Char('_'));
        const QString type = parts.value(0);
        const QString serial = parts.value(2);
        // Type and serial come from the device: shown as text, never as markup.
        const QString label = tr("Please fill the alias for<br><b>%1 / %2</b><br>Note: the alias must be "
                                 "unique among all the devices registered to your account.")
                                  .arg(type.toHtmlEscaped(), serial.toHtmlEscaped());
        QString alias = defaultAlias(type, QDateTime::currentSecsSinceEpoch());
        const bool accepted = askText(m_window, tr("Thing Name"), label, &alias);
        if (!self)
            return;
        if (!accepted) {
            setStep(Serial);
            return;
        }
        emit renameRequested(shortId, alias);
    }
    start();
}

void RegistrationWizard::showCode(const QJsonObject &code)
{
    setStep(Code);
    m_ui.code->display(code.value(QLatin1String("value")).toInt(0));
    m_ui.countdown->start(code.value(QLatin1String("timeout")).toInt(0));
}

void RegistrationWizard::copyCode()
{
    QGuiApplication::clipboard()->setText(QString::number(m_ui.code->intValue()));
    emit statusMessage(tr("Code copied to clipboard"), CopiedMessageMs);
}

QUrl RegistrationWizard::portalUrl(const QString &cloud, const QString &page)
{
    return QUrl(cloud + page, QUrl::TolerantMode);
}

void RegistrationWizard::openPortal()
{
    const CXSettings settings;
    const QString cloud = settings.value(Key::WebCloud).toString();
    const QString page = settings.value(Key::WebRegPage).toString();
    QDesktopServices::openUrl(portalUrl(cloud, page));
}

QStringList RegistrationWizard::resultLines(const QJsonObject &result)
{
    QStringList lines;
    if (result.contains(QLatin1String("id")) && result.contains(QLatin1String("alias")))
        lines.append(tr("%1 (gateway): %2")
                         .arg(result.value(QLatin1String("alias")).toString(),
                              result.value(QLatin1String("id")).toString()));
    const QJsonArray fleet = result.value(QLatin1String("fleet")).toArray();
    for (const QJsonValue &thing : fleet) {
        const QJsonObject entry = thing.toObject();
        lines.append(tr("%1: %2").arg(entry.value(QLatin1String("alias")).toString(),
                                      entry.value(QLatin1String("id")).toString()));
    }
    return lines;
}

void RegistrationWizard::showResult(const QJsonObject &result)
{
    setStep(Finished);
    if (result.contains(QLatin1String("error"))) {
        // The registrar's text is shown as text, never as markup.
        const QString text = tr("Registation has completed with an error.") + QLatin1String("<br>") +
                             result.value(QLatin1String("error")).toString().toHtmlEscaped() +
                             QStringLiteral(" (%1)").arg(result.value(QLatin1String("code")).toInt(0));
        const QPointer<RegistrationWizard> self(this);
        QMessageBox::warning(m_window, tr("Registration Error"), text, QMessageBox::Ok);
        if (self)
            setStep(Serial);
        return;
    }
    m_ui.results->clear();
    m_ui.results->addItems(resultLines(result));
    emit registered();
}
