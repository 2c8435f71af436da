#include "trendpane.h"

#include "trendchart.h"

#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtCharts/QChartView>
#include <QtConcurrent/QtConcurrentRun>

using namespace QtCharts;

namespace {

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

TrendPane::TrendPane(QWidget *parent)
    : QWidget(parent), m_title(new QLabel(this)), m_status(new QLabel(this)), m_rangeLabel(new QLabel(this)),
      m_rangeBox(new QComboBox(this)), m_exportButton(new QPushButton(this)), m_chart(new TrendChart),
      m_directory(defaultDirectory())
{
    setObjectName(QStringLiteral("trendPane"));
    m_title->setObjectName(QStringLiteral("trendTitle"));
    m_status->setObjectName(QStringLiteral("trendStatus"));
    m_rangeBox->setObjectName(QStringLiteral("trendRangeCombo"));
    m_exportButton->setObjectName(QStringLiteral("trendExportButton"));
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);
    m_title->setTextFormat(Qt::PlainText);
    m_status->setTextFormat(Qt::PlainText);
    m_rangeLabel->setBuddy(m_rangeBox);

    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("trendChartView"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumHeight(180);
    // A picture, not a control: the keyboard passes it by.
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->viewport()->setFocusPolicy(Qt::NoFocus);

    auto *header = new QHBoxLayout;
    header->addWidget(m_title, 1);
    header->addWidget(m_status);
    header->addWidget(m_rangeLabel);
    header->addWidget(m_rangeBox);
    header->addWidget(m_exportButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->addLayout(header);
    layout->addWidget(m_view, 1);

    for (int i = 0; i < 4; ++i)
        m_rangeBox->addItem(QString(), i);
    m_rangeBox->setCurrentIndex(m_range);
    retranslate();
    m_chart->applyPalette(palette());

    connect(m_rangeBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this](int index) { setRange(Range(index)); });
    connect(m_exportButton, &QPushButton::clicked, this, [this] { emit exportRequested(m_thing); });
    connect(&m_watcher, &QFutureWatcher<TrendData>::finished, this, &TrendPane::answered);
    hide();
}

TrendPane::~TrendPane()
{
    m_watcher.waitForFinished();
}

QString TrendPane::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void TrendPane::setHistoryDirectory(const QString &directory)
{
    m_directory = directory;
    reload();
}

qint64 TrendPane::rangeMs(Range range)
{
    constexpr qint64 hour = 3600 * 1000LL;
    switch (range) {
    case LastHour:
        return hour;
    case LastDay:
        return 24 * hour;
    case LastWeek:
        return 7 * 24 * hour;
    case LastMonth:
        return 30 * 24 * hour;
    }
    return 24 * hour;
}

void TrendPane::retranslate()
{
    m_rangeBox->setItemText(LastHour, tr("1 hour"));
    m_rangeBox->setItemText(LastDay, tr("24 hours"));
    m_rangeBox->setItemText(LastWeek, tr("7 days"));
    m_rangeBox->setItemText(LastMonth, tr("30 days"));
    m_rangeLabel->setText(tr("&Range:"));
    m_rangeBox->setAccessibleName(tr("Trend range"));
    m_rangeBox->setToolTip(tr("How far back the chart reaches"));
    m_exportButton->setText(tr("Export history…"));
    m_view->setAccessibleName(tr("Trend chart"));
    m_title->setText(m_thingTitle.isEmpty() ? QString() : tr("Trend of %1").arg(m_thingTitle));
}

void TrendPane::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        m_chart->applyPalette(palette());
    else if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void TrendPane::showThing(const QString &thing, const QString &title)
{
    m_thingTitle = title.isEmpty() ? thing : title;
    retranslate();
    show();
    if (thing == m_thing)
        return;
    m_thing = thing;
    m_chart->reset(thing, rangeMs(m_range), rangeMs(m_range) / bucketsWanted());
    reload();
}

void TrendPane::setRange(Range range)
{
    if (m_rangeBox->currentIndex() != range)
        m_rangeBox->setCurrentIndex(range); // comes back here through the signal
    if (range == m_range)
        return;
    m_range = range;
    reload();
}

int TrendPane::bucketsWanted() const
{
    // About one bucket for every two pixels of the plot: as much as the eye can tell apart.
    return qBound(60, m_view->width() / 2, 1000);
}

void TrendPane::reload()
{
    if (m_thing.isEmpty())
        return;
    if (m_watcher.isRunning()) {
        m_again = true;
        return;
    }
    m_again = false;
    m_asked = monotonicMs();
    m_status->setText(tr("Loading…"));
    const qint64 to = QDateTime::currentMSecsSinceEpoch() + 1;
    const qint64 from = to - rangeMs(m_range);
    const quint64 request = ++m_request;
    const QString directory = m_directory;
    const QString thing = m_thing;
    const int buckets = bucketsWanted();
    m_watcher.setFuture(QtConcurrent::run([=] {
        TrendData data = queryTrend(directory, thing, from, to, buckets);
        data.request = request;
        return data;
    }));
}

void TrendPane::answered()
{
    const TrendData data = m_watcher.result();
    if (m_again || data.request != m_request || data.thing != m_thing) {
        reload();
        return;
    }
    m_queryMs = data.elapsedMs;
    qint64 width = 0;
    for (const TrendField &field : data.fields)
        width = qMax(width, field.series.width);
    if (width == 0)
        width = rangeMs(m_range) / bucketsWanted();
    m_chart->draw(data, width);
    if (!data.error.isEmpty())
        m_status->setText(tr("History cannot be read: %1").arg(data.error));
    else if (data.fields.isEmpty())
        m_status->setText(tr("No values in this range yet"));
    else
        m_status->clear();
    m_redrawMs = monotonicMs() - m_asked;
    emit drawn();
}

void TrendPane::append(qint64 time, const QString &thing, const QJsonObject &state)
{
    if (thing != m_thing || m_thing.isEmpty())
        return;
    if (m_watcher.isRunning()) {
        // The query may or may not have seen this state: ask again once it ends.
        m_again = true;
        return;
    }
    m_chart->append(time, state);
    if (!m_chart->fields().isEmpty())
        m_status->clear();
    m_chart->follow(time);
}
