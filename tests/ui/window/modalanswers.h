#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>

// Answers the modal dialogs that the code under test opens, in order, one queued answer each,
// and records what each dialog said. Dialogs run their own event loops, so the answers come from
// a timer that watches for the active modal widget.
//
//   ModalAnswers modals;
//   modals.expect(ModalAnswers::press(QMessageBox::Yes));
//   button->click();                      // opens a question box, answered with Yes
//   QCOMPARE(modals.seen().value(0).title, "Gateway Registration");
class ModalAnswers : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
    };
    using Answer = std::function<void(QWidget *)>;

    ModalAnswers()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswers::poll);
        m_timer.start(20);
    }

    void expect(const Answer &answer) { m_answers.append(answer); }
    const QList<Seen> &seen() const { return m_seen; }
    int pending() const { return m_answers.size(); }

    static Answer press(QMessageBox::StandardButton button)
    {
        return [button](QWidget *w) {
            if (auto *box = qobject_cast<QMessageBox *>(w); box && box->button(button))
                box->button(button)->click();
        };
    }
    // A file dialog answered with this file name (or cancelled with an empty one).
    static Answer chooseFile(const QString &file)
    {
        return [file](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return;
            if (file.isEmpty()) {
                dialog->reject();
                return;
            }
            // selectFile() leaves a focused name field alone, as it would a user's typing.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(file);
            QMetaObject::invokeMethod(dialog, "accept");
        };
    }

private:
    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || w->property("answered").toBool())
            return;
        w->setProperty("answered", true);
        const auto *box = qobject_cast<QMessageBox *>(w);
        const QString text = box ? box->text() : QString();
        if (m_answers.isEmpty()) {
            // A dialog nobody expected fails the test instead of blocking it.
            m_seen.append({QStringLiteral("unexpected: ") + w->windowTitle(), text});
            if (auto *dialog = qobject_cast<QDialog *>(w))
                dialog->done(QDialog::Rejected);
            return;
        }
        m_seen.append({w->windowTitle(), text});
        m_answers.takeFirst()(w);
    }

    QTimer m_timer;
    QList<Answer> m_answers;
    QList<Seen> m_seen;
};
