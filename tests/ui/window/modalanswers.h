#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
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
    // Handles the dialog and returns true, or returns false when the dialog is not the one expected.
    using Answer = std::function<bool(QWidget *)>;

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
            auto *box = qobject_cast<QMessageBox *>(w);
            if (!box || !box->button(button))
                return false;
            box->button(button)->click();
            return true;
        };
    }
    // A file dialog answered with this file name (or cancelled with an empty one).
    static Answer chooseFile(const QString &file)
    {
        return [file](QWidget *w) {
            auto *dialog = qobject_cast<QFileDialog *>(w);
            if (!dialog)
                return false;
            if (file.isEmpty()) {
                dialog->reject();
                return true;
            }
            // selectFile() leaves a focused name field alone, as it would a user's typing.
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(file);
            QMetaObject::invokeMethod(dialog, "accept");
            return true;
        };
    }
    // A text input dialog answered with this text (or cancelled with a null string).
    static Answer enterText(const QString &text)
    {
        return [text](QWidget *w) {
            auto *dialog = qobject_cast<QInputDialog *>(w);
            if (!dialog)
                return false;
            if (text.isNull()) {
                dialog->reject();
                return true;
            }
            dialog->setTextValue(text);
            dialog->accept();
            return true;
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
        m_seen.append({w->windowTitle(), text});
        // A dialog nobody expected, or not the one expected, fails the test instead of blocking it.
        const QPointer<QWidget> dialog(w);
        const int index = m_seen.size() - 1;
        if (m_answers.isEmpty() || !m_answers.takeFirst()(w)) {
            m_seen[index].title.prepend(QStringLiteral("unexpected: "));
            if (auto *d = qobject_cast<QDialog *>(dialog.data()))
                d->done(QDialog::Rejected);
        }
    }

    QTimer m_timer;
    QList<Answer> m_answers;
    QList<Seen> m_seen;
};
