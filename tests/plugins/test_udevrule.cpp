#include "thx9device.h"
#include "vgl5device.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

QString readSource(const QString &name)
{
    QFile file(QStringLiteral(TSL_RESOURCES_DIR "/") + name);
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

// The installed udev rule opens exactly the devices that the plug-ins look for: for the user at the
// seat (uaccess) and for the service's group.
class TestUdevRule : public QObject
{
    Q_OBJECT

private slots:
    void ruleMatchesThePlugins()
    {
        const QRegularExpression line(QStringLiteral(
            R"re(^SUBSYSTEM=="hidraw", ATTRS\{idVendor\}=="([0-9a-f]{4})", ATTRS\{idProduct\}=="([0-9a-f]{4})", (.*)$)re"));
        QSet<QPair<ushort, ushort>> ruled;
        const QStringList lines = readSource(QStringLiteral("70-tsl-gate.rules")).split(QLatin1Char('\n'));
        QVERIFY(lines.size() > 1);
        for (const QString &raw : lines) {
            const QString text = raw.trimmed();
            if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
                continue;
            const QRegularExpressionMatch m = line.match(text);
            QVERIFY2(m.hasMatch(), qPrintable(text));
            const QStringList actions = m.captured(3).split(QStringLiteral(", "));
            for (const QString &action :
                 {QStringLiteral("TAG+=\"uaccess\""), QStringLiteral("GROUP=\"tsl-gate\""),
                  QStringLiteral("MODE=\"0660\"")})
                QVERIFY2(actions.contains(action), qPrintable(text + QStringLiteral(" lacks ") + action));
            ruled.insert(
                {ushort(m.captured(1).toUShort(nullptr, 16)), ushort(m.captured(2).toUShort(nullptr, 16))});
        }
        const QSet<QPair<ushort, ushort>> plugins{{THX9Device::VendorId, THX9Device::ProductId},
                                                  {VGL5Device::VendorId, VGL5Device::ProductId}};
        QCOMPARE(ruled, plugins);
    }

    // The group the rule hands the devices to is the one the service runs as and sysusers creates.
    void serviceRunsAsTheRulesGroup_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("sysusers") << "tsl-gate.sysusers"
                                  << R"(^u tsl-gate - )";
        QTest::newRow("unit user") << "tsl-gated.service.in"
                                   << R"(^User=tsl-gate$)";
        QTest::newRow("unit group") << "tsl-gated.service.in"
                                    << R"(^Group=tsl-gate$)";
        QTest::newRow("unit devices") << "tsl-gated.service.in"
                                      << R"(^DeviceAllow=char-hidraw rw$)";
    }

    void serviceRunsAsTheRulesGroup()
    {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
        QVERIFY2(re.match(readSource(file)).hasMatch(), qPrintable(file + QStringLiteral(": ") + pattern));
    }
};

QTEST_GUILESS_MAIN(TestUdevRule)
#include "test_udevrule.moc"
