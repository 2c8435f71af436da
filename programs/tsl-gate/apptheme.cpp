#include "apptheme.h"

#include <QApplication>
#include <QSettings>
#include <QStyleFactory>

bool AppTheme::s_dark = false;
bool AppTheme::s_known = false;

bool AppTheme::isDarkWindowColor(const QColor &color)
{
    return 11 * color.red() + 16 * color.green() + 5 * color.blue() <= 3199;
}

bool AppTheme::systemIsDark()
{
    if (!QCoreApplication::instance())
        return false;
    return isDarkWindowColor(QGuiApplication::palette().color(QPalette::Active, QPalette::Window));
}

void AppTheme::computeDefault()
{
    if (s_known)
        return;
    s_dark = systemIsDark();
    s_known = true;
}

bool AppTheme::choose(bool forceDark, const QString &settingsKey)
{
    computeDefault();
    if (forceDark)
        s_dark = true;
    else if (!settingsKey.isEmpty())
        s_dark = QSettings().value(settingsKey, s_dark).toBool();
    else
        return s_dark;
    if (s_dark)
        applyDarkLook();
    return s_dark;
}

bool AppTheme::isDark()
{
    computeDefault();
    return s_dark;
}

QPalette AppTheme::darkPalette()
{
    const QColor grey(0x35, 0x35, 0x35);
    const QColor blue(0x2a, 0x82, 0xda);
    const QColor disabled(0x80, 0x80, 0x80);

    QPalette palette;
    palette.setColor(QPalette::Window, grey);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(0x19, 0x19, 0x19));
    palette.setColor(QPalette::AlternateBase, grey);
    palette.setColor(QPalette::ToolTipBase, blue);
    palette.setColor(QPalette::ToolTipText, Qt::white);
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, grey);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Link, blue);
    palette.setColor(QPalette::Highlight, blue);
    palette.setColor(QPalette::HighlightedText, Qt::black);

    palette.setColor(QPalette::Active, QPalette::Button, disabled.darker(200));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Text, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Light, grey);
    return palette;
}

void AppTheme::applyDarkLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(darkPalette());
    if (auto *app = qobject_cast<QApplication *>(QCoreApplication::instance()))
        app->setStyleSheet(QStringLiteral("QToolTip { color: #ffffff; background-color: #2a82da; border: 1px "
                                          "solid #f0f0f0; border-radius: 2px; }"));
}
