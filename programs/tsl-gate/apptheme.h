#pragma once

#include <QColor>
#include <QPalette>
#include <QString>

// The program's theme: the desktop's own look, or the dark Fusion look when the user asks for it
// (the --force-dark option or UI/Dark). Decided once at start-up; the flag is process-wide.
class AppTheme
{
public:
    // A window background counts as dark when 11·r + 16·g + 5·b stays below 3200.
    static bool isDarkWindowColor(const QColor &color);
    // Whether the desktop's palette is dark; light when there is no application object.
    static bool systemIsDark();

    // Decides the flag: on when forced, otherwise the boolean under settingsKey (the desktop's
    // darkness when the key is absent; the stored value is not consulted for an empty key). Applies
    // the dark look when the flag is on and leaves the desktop's look alone when it is off.
    static bool choose(bool forceDark, const QString &settingsKey);
    // The flag; the desktop's darkness until choose() has run.
    static bool isDark();

    static QPalette darkPalette();
    // Fusion style, the dark palette and a matching tool-tip style sheet on the application.
    static void applyDarkLook();

private:
    static void computeDefault();

    static bool s_dark;
    static bool s_known;
};
