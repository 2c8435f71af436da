#pragma once

#include <QColor>
#include <QHash>
#include <QIcon>
#include <QObject>
#include <QStringList>
#include <QVector>

class QAbstractButton;
class QAction;

// The process-wide set of Material Icons glyphs: loads the icon font and its name table from the
// resources once, keeps the five role colours of the current theme and builds icons by glyph name.
class QMaterialIcon : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QColor base READ base WRITE setBase)

public:
    enum Color { Base, Checked, Success, Warning, Error };
    Q_ENUM(Color)

    // The single instance, created on the first call (after the application object exists) and
    // destroyed together with the application object.
    static QMaterialIcon *instance();

    ~QMaterialIcon() override;

    // The code point of a glyph name, or 0 (found = false) for a name the table lacks.
    QChar codePoint(const QString &name, bool *found = nullptr) const;

    // A null icon when the font could not be loaded. An invalid colour means the Base colour of the
    // moment; an empty family means the loaded font's first family.
    QIcon icon(const QString &nameOn, const QString &nameOff, const QColor &color = QColor(),
               const QString &family = QString()) const;
    QIcon icon(const QString &name, const QColor &color = QColor(), const QString &family = QString()) const;

    void setIcon(QAction *action, const QString &name, const QColor &color = QColor(),
                 const QString &family = QString()) const;
    void setIcon(QAction *action, const QString &nameOn, const QString &nameOff,
                 const QColor &color = QColor(), const QString &family = QString()) const;
    void setIcon(QAbstractButton *button, const QString &name, const QColor &color = QColor(),
                 const QString &family = QString()) const;
    void setIcon(QAbstractButton *button, const QString &nameOn, const QString &nameOff,
                 const QColor &color = QColor(), const QString &family = QString()) const;

    // Role colours for a dark (true) or light (false) theme. Icons already built keep their colours.
    void applyTheme(bool dark);

    QColor color(Color role) const;
    QColor base() const { return color(Base); }
    void setBase(const QColor &color);

    int fontId() const { return m_fontId; }
    QStringList families() const { return m_families; }

private:
    QMaterialIcon();
    void loadCodePoints();

    int m_fontId = -1;
    QStringList m_families;
    QHash<QString, uint> m_codePoints;
    QVector<QColor> m_colors;
};
