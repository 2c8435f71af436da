#include "qmaterialicon.h"

#include "qfonticonengine.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>

namespace {

const char FontResource[] = ":/qtmf/src_v70/MaterialIcons-Regular.ttf";
const char CodePointResource[] = ":/qtmf/src_v70/codepoints";

QMaterialIcon *s_instance = nullptr;

void destroyInstance()
{
    delete s_instance;
    s_instance = nullptr;
}

} // namespace

QMaterialIcon *QMaterialIcon::instance()
{
    if (!s_instance) {
        s_instance = new QMaterialIcon;
        // Gone with the application object, before the font database and the palette it relies on.
        qAddPostRoutine(destroyInstance);
    }
    return s_instance;
}

QMaterialIcon::QMaterialIcon()
    : m_colors{QColor(Qt::black), QColor(Qt::green), QColor(Qt::green), QColor(Qt::darkYellow),
               QColor(Qt::red)}
{
    // The resources live in a static library: register them even when the linker dropped their
    // static initialiser.
    Q_INIT_RESOURCE(materialicons);
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        qWarning("QMaterialIcon: no GUI application object, icons are unavailable");
        return;
    }
    m_fontId = QFontDatabase::addApplicationFont(QString::fromLatin1(FontResource));
    if (m_fontId < 0) {
        qWarning("QMaterialIcon: cannot load the icon font %s", FontResource);
        return;
    }
    m_families = QFontDatabase::applicationFontFamilies(m_fontId);
    loadCodePoints();
}

QMaterialIcon::~QMaterialIcon() = default;

void QMaterialIcon::loadCodePoints()
{
    QFile file(QString::fromLatin1(CodePointResource));
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("QMaterialIcon: cannot read the code points %s", CodePointResource);
        return;
    }
    while (!file.atEnd()) {
        const QStringList parts =
            QString::fromLatin1(file.readLine()).trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() == 2)
            m_codePoints.insert(parts.at(0), parts.at(1).toUInt(nullptr, 16));
    }
}

QChar QMaterialIcon::codePoint(const QString &name, bool *found) const
{
    const auto it = m_codePoints.constFind(name);
    const bool known = it != m_codePoints.constEnd();
    if (found)
        *found = known;
    return known ? QChar(ushort(it.value() & 0xFFFF)) : QChar(ushort(0));
}

QIcon QMaterialIcon::icon(const QString &nameOn, const QString &nameOff, const QColor &color,
                          const QString &family) const
{
    if (m_fontId < 0)
        return QIcon();
    auto *engine = new QFontIconEngine;
    engine->setFamily(family.isEmpty() ? m_families.value(0) : family);
    engine->setGlyph(codePoint(nameOn), QIcon::On);
    engine->setGlyph(codePoint(nameOff), QIcon::Off);
    engine->setColor(color.isValid() ? color : m_colors.at(Base));
    engine->setOnColor(m_colors.at(Checked));
    return QIcon(engine);
}

QIcon QMaterialIcon::icon(const QString &name, const QColor &color, const QString &family) const
{
    return icon(name, name, color, family);
}

void QMaterialIcon::setIcon(QAction *action, const QString &name, const QColor &color,
                            const QString &family) const
{
    action->setIcon(icon(name, name, color, family));
}

void QMaterialIcon::setIcon(QAction *action, const QString &nameOn, const QString &nameOff,
                            const QColor &color, const QString &family) const
{
    action->setIcon(icon(nameOn, nameOff, color, family));
}

void QMaterialIcon::setIcon(QAbstractButton *button, const QString &name, const QColor &color,
                            const QString &family) const
{
    button->setIcon(icon(name, name, color, family));
}

void QMaterialIcon::setIcon(QAbstractButton *button, const QString &nameOn, const QString &nameOff,
                            const QColor &color, const QString &family) const
{
    button->setIcon(icon(nameOn, nameOff, color, family));
}

void QMaterialIcon::applyTheme(bool dark)
{
    const QColor green(dark ? "#A5D6A7" : "#4CAF50");
    m_colors = {dark ? QColor(Qt::white) : QColor(Qt::black), green, green,
                QColor(dark ? "#FF9800" : "#FFCC80"), QColor(dark ? "#F44336" : "#EF9A9A")};
}

QColor QMaterialIcon::color(Color role) const
{
    return m_colors.value(role);
}

void QMaterialIcon::setBase(const QColor &color)
{
    m_colors[Base] = color;
}
