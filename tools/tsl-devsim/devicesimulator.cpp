#include "devicesimulator.h"

#include <QRegularExpression>
#include <QTimer>

namespace {

bool parseByte(const QString &text, uchar *value)
{
    bool ok = false;
    const uint v = text.toUInt(&ok, 0); // decimal, or hexadecimal with 0x
    if (!ok || v > 0xFF)
        return false;
    *value = uchar(v);
    return true;
}

bool parseHex(const QString &text, QByteArray *bytes)
{
    QString digits = text;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    if (digits.isEmpty() || digits.size() % 2 ||
        digits.contains(QRegularExpression(QStringLiteral("[^0-9a-fA-F]"))))
        return false;
    *bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

} // namespace

DeviceSimulator::DeviceSimulator(QObject *parent) : QObject(parent), m_repeat(new QTimer(this))
{
    m_repeat->setInterval(1000);
    connect(m_repeat, &QTimer::timeout, this, &DeviceSimulator::repeatReadings);
    m_repeat->start();
}

SimulatedHidDevice *DeviceSimulator::find(const QString &serial, QString *error) const
{
    SimulatedHidDevice *dev = m_bus.device(serial);
    if (!dev)
        *error = QStringLiteral("no device with serial %1").arg(serial);
    return dev;
}

bool DeviceSimulator::plug(const QString &kind, const QString &serial, const QString &product, QString *error)
{
    if (serial.isEmpty()) {
        *error = QStringLiteral("a serial number is needed");
        return false;
    }
    if (kind == QLatin1String("sensor")) {
        SimulatedHidDevice *dev =
            product.isEmpty() ? m_bus.plugSensor(serial) : m_bus.plugSensor(serial, product);
        if (m_temperatures.contains(serial))
            dev->injectTemperature(m_temperatures.value(serial));
    } else if (kind == QLatin1String("watchdog")) {
        product.isEmpty() ? m_bus.plugWatchdog(serial) : m_bus.plugWatchdog(serial, product);
    } else {
        *error = QStringLiteral("unknown device kind %1 (sensor or watchdog)").arg(kind);
        return false;
    }
    return true;
}

bool DeviceSimulator::setTemperature(const QString &serial, double celsius, QString *error)
{
    if (celsius < -327.68 || celsius > 327.67) {
        *error = QStringLiteral("temperature out of the sensor's range");
        return false;
    }
    m_temperatures.insert(serial, celsius);
    if (SimulatedHidDevice *dev = m_bus.device(serial))
        dev->injectTemperature(celsius);
    return true;
}

void DeviceSimulator::repeatReadings()
{
    for (SimulatedHidDevice *dev : m_bus.devices()) {
        const auto it = m_temperatures.constFind(dev->serial());
        if (it != m_temperatures.constEnd() && dev->productId() == SimulatedHidBus::SensorProductId &&
            dev->pendingInputCount() == 0)
            dev->injectTemperature(*it);
    }
}

bool DeviceSimulator::execute(const QString &line, QStringList *out, QString *error)
{
    const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString command = words.at(0);
    const int argc = words.size() - 1;
    auto usage = [error](const char *text) {
        *error = QStringLiteral("usage: ") + QLatin1String(text);
        return false;
    };

    if (command == QLatin1String("quit")) {
        emit quitRequested();
        return true;
    }
    if (command == QLatin1String("list")) {
        for (SimulatedHidDevice *dev : m_bus.devices()) {
            out->append(QStringLiteral("%1:%2 %3 \"%4\" %5")
                            .arg(dev->vendorId(), 4, 16, QLatin1Char('0'))
                            .arg(dev->productId(), 4, 16, QLatin1Char('0'))
                            .arg(dev->serial(), dev->product(), dev->devnode()));
        }
        return true;
    }
    if (command == QLatin1String("plug")) {
        if (argc < 2)
            return usage("plug sensor|watchdog SERIAL [PRODUCT]");
        const QString product =
            line.section(QRegularExpression(QStringLiteral("\\s+")), 3, -1, QString::SectionSkipEmpty);
        return plug(words.at(1), words.at(2), product, error);
    }
    if (command == QLatin1String("unplug")) {
        if (argc != 1)
            return usage("unplug SERIAL");
        if (m_bus.unplug(words.at(1)) == 0) {
            *error = QStringLiteral("no device with serial %1").arg(words.at(1));
            return false;
        }
        return true;
    }
    if (command == QLatin1String("temp")) {
        bool ok = false;
        const double value = argc == 2 ? words.at(2).toDouble(&ok) : 0;
        if (!ok)
            return usage("temp SERIAL CELSIUS");
        return setTemperature(words.at(1), value, error);
    }
    if (command == QLatin1String("raw") || command == QLatin1String("feature")) {
        QByteArray bytes;
        if (argc < 2 || !parseHex(line.section(QRegularExpression(QStringLiteral("\\s+")), 2, -1,
                                               QString::SectionSkipEmpty),
                                  &bytes))
            return usage(command == QLatin1String("raw") ? "raw SERIAL HEX" : "feature SERIAL HEX");
        SimulatedHidDevice *dev = find(words.at(1), error);
        if (!dev)
            return false;
        if (command == QLatin1String("raw"))
            dev->injectInput(bytes);
        else
            dev->setFeature(bytes);
        return true;
    }
    if (command == QLatin1String("status")) {
        uchar b[6] = {};
        bool ok = argc == 5 || argc == 7;
        for (int i = 0; ok && i < argc - 1; ++i)
            ok = parseByte(words.at(i + 2), &b[i]);
        if (!ok)
            return usage("status SERIAL STATUS STATUS2 KIND B4 [B5 B6]");
        SimulatedHidDevice *dev = find(words.at(1), error);
        if (!dev)
            return false;
        dev->setWatchdogStatus(b[0], b[1], b[2], b[3], b[4], b[5]);
        return true;
    }
    if (command == QLatin1String("outputs")) {
        if (argc != 1)
            return usage("outputs SERIAL");
        SimulatedHidDevice *dev = find(words.at(1), error);
        if (!dev)
            return false;
        QStringList reports;
        for (const QByteArray &report : dev->takeOutputs())
            reports.append(QString::fromLatin1(report.toHex()));
        out->append(reports.isEmpty() ? QStringLiteral("none") : reports.join(QLatin1Char(' ')));
        return true;
    }
    if (command == QLatin1String("fail-writes")) {
        if (argc != 2 || (words.at(2) != QLatin1String("on") && words.at(2) != QLatin1String("off")))
            return usage("fail-writes SERIAL on|off");
        SimulatedHidDevice *dev = find(words.at(1), error);
        if (!dev)
            return false;
        dev->setWritesFail(words.at(2) == QLatin1String("on"));
        return true;
    }
    *error = QStringLiteral("unknown command %1").arg(command);
    return false;
}
