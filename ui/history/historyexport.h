#pragma once

#include <QDialog>
#include <QPair>
#include <QVector>

class QComboBox;
class QDateTimeEdit;

// "Export history…": the dialog that asks for a thing and a range, then the file, then writes the
// CSV (HistoryCsvWriter) on the thread pool behind a progress dialog that can cancel it. Trouble is
// shown as plain text; a cancelled export removes its unfinished file.
class HistoryExportDialog : public QDialog
{
    Q_OBJECT

public:
    // things: short id and what the dashboard calls it; the history's other things are added.
    HistoryExportDialog(const QString &directory, const QVector<QPair<QString, QString>> &things,
                        const QString &preselected, QWidget *parent = nullptr);

    QString thing() const;
    qint64 from() const;
    qint64 to() const;

    // The whole sequence from the dialog on; the file dialog starts in System/ExportDirectory.
    static void run(const QString &directory, const QVector<QPair<QString, QString>> &things,
                    const QString &preselected, QWidget *parent);
    // Writes the file behind a progress dialog, waiting in a local event loop; an empty result on
    // success or cancellation, else the message shown.
    static QString exportTo(const QString &directory, const QString &thing, qint64 from, qint64 to,
                            const QString &file, QWidget *parent);

private:
    void presetChosen(int index);

    QComboBox *m_thing;
    QComboBox *m_preset;
    QDateTimeEdit *m_from;
    QDateTimeEdit *m_to;
};
