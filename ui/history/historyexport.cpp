#include "historyexport.h"

#include "historycsvwriter.h"
#include "historyreader.h"
#include "settingskeys.h"
#include "trendpane.h"

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <atomic>
#include <memory>

namespace {

struct Outcome
{
    HistoryCsvWriter::Result result = HistoryCsvWriter::Failed;
    QString error;
    qint64 rows = 0;
};

} // namespace

HistoryExportDialog::HistoryExportDialog(const QString &directory,
                                         const QVector<QPair<QString, QString>> &things,
                                         const QString &preselected, QWidget *parent)
    : QDialog(parent), m_thing(new QComboBox(this)), m_preset(new QComboBox(this)),
      m_from(new QDateTimeEdit(this)), m_to(new QDateTimeEdit(this))
{
    setWindowTitle(tr("Export history"));
    setObjectName(QStringLiteral("historyExportDialog"));
    m_thing->setObjectName(QStringLiteral("exportThingCombo"));
    m_preset->setObjectName(QStringLiteral("exportRangeCombo"));
    m_from->setObjectName(QStringLiteral("exportFromEdit"));
    m_to->setObjectName(QStringLiteral("exportToEdit"));

    QStringList listed;
    for (const auto &thing : things) {
        m_thing->addItem(thing.second.isEmpty() || thing.second == thing.first
                             ? thing.first
                             : QStringLiteral("%1 (%2)").arg(thing.second, thing.first),
                         thing.first);
        listed << thing.first;
    }
    HistoryReader reader;
    if (reader.open(directory)) {
        for (const QString &thing : reader.things()) {
            if (!listed.contains(thing))
                m_thing->addItem(thing, thing);
        }
    }
    m_thing->setCurrentIndex(qMax(0, m_thing->findData(preselected)));

    m_preset->addItem(tr("Last hour"), TrendPane::LastHour);
    m_preset->addItem(tr("Last 24 hours"), TrendPane::LastDay);
    m_preset->addItem(tr("Last 7 days"), TrendPane::LastWeek);
    m_preset->addItem(tr("Last 30 days"), TrendPane::LastMonth);
    m_preset->addItem(tr("Custom"), -1);
    for (QDateTimeEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }

    auto *form = new QFormLayout;
    form->addRow(tr("&Device:"), m_thing);
    form->addRow(tr("&Range:"), m_preset);
    form->addRow(tr("&From:"), m_from);
    form->addRow(tr("&Until:"), m_to);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Export…"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_preset, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &HistoryExportDialog::presetChosen);
    const auto custom = [this] { m_preset->setCurrentIndex(m_preset->count() - 1); };
    m_preset->setCurrentIndex(1);
    presetChosen(1);
    connect(m_from, &QDateTimeEdit::dateTimeChanged, this, custom);
    connect(m_to, &QDateTimeEdit::dateTimeChanged, this, custom);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(m_thing->count() > 0);
}

void HistoryExportDialog::presetChosen(int index)
{
    const int range = m_preset->itemData(index).toInt();
    if (range < 0)
        return;
    const QSignalBlocker fromBlocker(m_from);
    const QSignalBlocker toBlocker(m_to);
    const QDateTime now = QDateTime::currentDateTime();
    m_to->setDateTime(now);
    m_from->setDateTime(now.addMSecs(-TrendPane::rangeMs(TrendPane::Range(range))));
}

QString HistoryExportDialog::thing() const
{
    return m_thing->currentData().toString();
}

qint64 HistoryExportDialog::from() const
{
    return m_from->dateTime().toMSecsSinceEpoch();
}

qint64 HistoryExportDialog::to() const
{
    // The editor shows whole seconds: "until" includes the second it shows.
    return m_to->dateTime().toMSecsSinceEpoch() / 1000 * 1000 + 1000;
}

void HistoryExportDialog::run(const QString &directory, const QVector<QPair<QString, QString>> &things,
                              const QString &preselected, QWidget *parent)
{
    HistoryExportDialog dialog(directory, things, preselected, parent);
    if (dialog.exec() != QDialog::Accepted || dialog.thing().isEmpty())
        return;
    QSettings settings;
    const QString folder = Key::SystemExportDirectory.read(settings).toString();
    const QString suggested =
        QStringLiteral("%1/%2-%3.csv")
            .arg(folder, dialog.thing(),
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString file = QFileDialog::getSaveFileName(parent, tr("Save the history as"), suggested,
                                                      tr("CSV files (*.csv);;All files (*)"));
    if (file.isEmpty())
        return;
    settings.setValue(Key::SystemExportDirectory, QFileInfo(file).absolutePath());
    const QString error = exportTo(directory, dialog.thing(), dialog.from(), dialog.to(), file, parent);
    if (!error.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, tr("Export history"), error, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

QString HistoryExportDialog::exportTo(const QString &directory, const QString &thing, qint64 from, qint64 to,
                                      const QString &file, QWidget *parent)
{
    auto out = std::make_shared<QSaveFile>(file);
    if (!out->open(QIODevice::WriteOnly))
        return tr("The file %1 cannot be written: %2")
            .arg(QDir::toNativeSeparators(file), out->errorString());

    QProgressDialog progress(tr("Exporting the history of %1…").arg(thing), tr("Cancel"), 0, 1000, parent);
    progress.setWindowTitle(tr("Export history"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    progress.setValue(0);

    auto done = std::make_shared<std::atomic<int>>(0);
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    QFutureWatcher<Outcome> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<Outcome>::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run([=]() {
        Outcome outcome;
        HistoryReader reader;
        if (!reader.open(directory)) {
            outcome.error =
                reader.errorString().isEmpty() ? tr("There is no history yet.") : reader.errorString();
            return outcome;
        }
        HistoryCsvWriter csv(reader);
        csv.setThing(thing);
        // Cancelled at the next chunk, on this thread.
        csv.setProgress([&csv, done, cancelled](double share) {
            *done = int(share * 1000);
            if (*cancelled)
                csv.cancel();
        });
        outcome.result = csv.write(out.get(), from, to);
        outcome.error = csv.errorString();
        outcome.rows = csv.rowsWritten();
        return outcome;
    }));
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] { progress.setValue(*done); });
    tick.start(100);
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [cancelled] { *cancelled = true; });
    if (!watcher.isFinished())
        loop.exec();
    tick.stop();
    const Outcome outcome = watcher.result();
    progress.reset();
    if (outcome.result == HistoryCsvWriter::Cancelled || *cancelled) {
        out->cancelWriting();
        return QString();
    }
    if (outcome.result != HistoryCsvWriter::Written) {
        out->cancelWriting();
        return tr("The history could not be exported: %1").arg(outcome.error);
    }
    if (!out->commit())
        return tr("The file %1 cannot be written: %2")
            .arg(QDir::toNativeSeparators(file), out->errorString());
    return QString();
}
