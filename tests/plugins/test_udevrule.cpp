#include "thx9device.h"
#include "vgl5device.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

// The installed udev rule opens exactly the devices that the plug-ins look for.
class TestUdevRule : public QObject
{
    Q_OBJECT

private slots:
    void ruleMatchesThePlugins()
    {
        QFile rule(QStringLiteral(TSL_UDEV_RULE));
        QVERIFY(rule.open(QIODevice::ReadOnly | QIODevice::Text));
        const QRegularExpression line(QStringLiteral(
            R"re(^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", TAG\+="uaccess"$)re"));
        QSet<QPair<ushort, ushort>> ruled;
        while (!rule.atEnd()) {
            const QString text = QString::fromUtf8(rule.readLine()).trimmed();
            if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
                continue;
            const QRegularExpressionMatch m = line.match(text);
            QVERIFY2(m.hasMatch(), qPrintable(text));
            ruled.insert(
                {ushort(m.captured(1).toUShort(nullptr, 16)), ushort(m.captured(2).toUShort(nullptr, 16))});
        }
        const QSet<QPair<ushort, ushort>> plugins{{THX9Device::VendorId, THX9Device::ProductId},
                                                  {VGL5Device::VendorId, VGL5Device::ProductId}};
        QCOMPARE(ruled, plugins);
    }
};

QTEST_GUILESS_MAIN(TestUdevRule)
#include "test_udevrule.moc"
