#pragma once

#include <QLCDNumber>

// A seconds count-down display: green while counting, warning colour for the last 15 seconds.
class QCountDownLCD : public QLCDNumber
{
    Q_OBJECT

public:
    explicit QCountDownLCD(QWidget *parent = nullptr);
    ~QCountDownLCD() override;

    int remaining() const { return m_remaining; }
    bool isCounting() const { return m_timerId >= 0; }

signals:
    // Emitted once when the count reaches 0; the display then stays at 0.
    void timeout();

public slots:
    void start(int cnt);
    void stop();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    int m_remaining = 0;
    int m_timerId = -1;
};
