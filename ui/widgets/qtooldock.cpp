#include "qtooldock.h"

#include "qmaterialicon.h"

#include <QEvent>
#include <QPainterPath>
#include <QRegion>
#include <QResizeEvent>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int CornerRadius = 16;
// Hosts lower than this get the small icons, higher ones the large; exactly this keeps the current.
constexpr int IconSizeThreshold = 400;
constexpr int SmallIcons = 24;
constexpr int LargeIcons = 32;

} // namespace

QToolDock::QToolDock(QWidget *host) : QWidget(host), m_layout(new QVBoxLayout(this))
{
    m_layout->setSpacing(5);
    m_layout->setContentsMargins(10, 10, 10, 10);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    const QString accent = QMaterialIcon::instance()->color(QMaterialIcon::Success).name();
    setStyleSheet(
        QStringLiteral("QToolDock QToolButton:hover {color: %1; border: 1px solid %1;}").arg(accent) +
        QStringLiteral("QToolDock QToolButton {color: white; background-color: rgba(0,0,0,0); "
                       "border: 1px solid black; icon-size: 32px; border-radius: 4;}"));
    attach(host);
}

void QToolDock::attach(QWidget *host)
{
    if (m_host)
        m_host->removeEventFilter(this);
    m_host = host;
    if (parentWidget() != host)
        setParent(host); // hides the dock: shown again below on its new host
    if (host) {
        host->installEventFilter(this);
        show();
        place();
    }
}

void QToolDock::setSide(Side side)
{
    m_side = side;
    place();
}

QToolButton *QToolDock::addAction(int id, const QIcon &icon, const QString &text, const QString &toolTip)
{
    auto *button = new QToolButton(this);
    button->setIconSize(QSize(m_iconSize, m_iconSize));
    button->setIcon(icon);
    button->setText(text);
    button->setProperty("iaction", id);
    button->setToolTip(toolTip);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_layout->addWidget(button);
    m_buttons.append(button);
    connect(button, &QToolButton::clicked, this, &QToolDock::action_triggered);
    adjustSize();
    return button;
}

void QToolDock::action_triggered()
{
    auto *button = qobject_cast<QToolButton *>(sender());
    if (!button)
        return;
    emit clicked(button->property("iaction").toInt());
}

void QToolDock::place()
{
    if (!m_host)
        return;
    const int w = m_host->width();
    const int h = m_host->height();
    int size = m_iconSize;
    if (h < IconSizeThreshold)
        size = SmallIcons;
    else if (h > IconSizeThreshold)
        size = LargeIcons;
    if (size != m_iconSize) {
        m_iconSize = size;
        for (QToolButton *button : qAsConst(m_buttons))
            button->setIconSize(QSize(size, size));
    }
    const int dw = width();
    const int dh = height();
    switch (m_side) {
    case Left:
        move(0, (h - dh) / 2);
        break;
    case Top:
        move((w - dw) / 2, 0);
        break;
    case Right:
        move(w - dw, (h - dh) / 2);
        break;
    case Bottom:
        move((w - dw) / 2, h - dh);
        break;
    }
    updateMask();
}

void QToolDock::updateMask()
{
    const QRect r = rect();
    const bool horizontal = m_side == Left || m_side == Right;
    const int depth = horizontal ? r.width() : r.height();
    if (depth <= 30) {
        setMask(QRegion(r));
        return;
    }
    // Round the two corners that face away from the host's edge: a rounded rectangle, with the
    // half that touches the edge squared off again.
    QPainterPath path;
    path.addRoundedRect(QRectF(r), CornerRadius, CornerRadius);
    QRect square = r;
    switch (m_side) {
    case Left:
        square.setWidth(r.width() / 2);
        break;
    case Right:
        square.setLeft(r.left() + r.width() / 2);
        break;
    case Top:
        square.setHeight(r.height() / 2);
        break;
    case Bottom:
        square.setTop(r.top() + r.height() / 2);
        break;
    }
    setMask(QRegion(path.toFillPolygon().toPolygon()).united(QRegion(square)));
}

bool QToolDock::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_host && event->type() == QEvent::Resize)
        place();
    return QWidget::eventFilter(watched, event);
}

void QToolDock::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    place();
}

void QToolDock::enterEvent(QEvent *event)
{
    QWidget::enterEvent(event);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    adjustSize();
    place();
}

void QToolDock::leaveEvent(QEvent *event)
{
    QWidget::leaveEvent(event);
    if (m_side == Left || m_side == Right) {
        m_savedExtent = width();
        setFixedWidth(CollapsedExtent);
    } else {
        m_savedExtent = height();
        setFixedHeight(CollapsedExtent);
    }
    place();
}
