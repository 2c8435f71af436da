#pragma once

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QWidget>

class QToolButton;
class QVBoxLayout;

// A floating column of tool buttons at one edge of a host widget. It collapses to a thin strip
// when the pointer leaves it and expands again when the pointer comes back.
class QToolDock : public QWidget
{
    Q_OBJECT

public:
    enum Side { Left, Top, Right, Bottom };
    Q_ENUM(Side)

    explicit QToolDock(QWidget *host);

    void attach(QWidget *host);
    QWidget *host() const { return m_host; }
    Side side() const { return m_side; }
    void setSide(Side side);
    int iconSize() const { return m_iconSize; }
    QList<QToolButton *> buttons() const { return m_buttons; }

    QToolButton *addAction(int id, const QIcon &icon, const QString &text, const QString &toolTip);

    // Depth of the strip left when the dock collapses.
    static constexpr int CollapsedExtent = 10;

signals:
    void clicked(int id);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

private slots:
    void action_triggered();

private:
    void place();
    void updateMask();

    QPointer<QWidget> m_host;
    Side m_side = Left;
    QList<QToolButton *> m_buttons;
    int m_iconSize = 32;
    int m_savedExtent = 0;
    QVBoxLayout *m_layout = nullptr;
};
