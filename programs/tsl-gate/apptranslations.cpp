#include "apptranslations.h"

#include "settingskeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QTranslator>

#include <memory>

namespace {

QString storedLanguage(QSettings *settings)
{
    const QString system = QLocale::system().name();
    const QString key = Key::UiLanguage.key();
    const QString language =
        settings ? settings->value(key, system).toString() : QSettings().value(key, system).toString();
    return language.isEmpty() ? system : language;
}

void install(QList<QTranslator *> &list, QCoreApplication *app, std::unique_ptr<QTranslator> translator)
{
    if (app->installTranslator(translator.get()))
        list.append(translator.release());
}

} // namespace

QString AppTranslations::programFile(const QString &folder, const QString &language)
{
    const QString part = language.split(QLatin1Char('_'), Qt::KeepEmptyParts).first();
    const QDir dir(QStringLiteral(":/%1/").arg(folder));
    const QStringList files = dir.entryList({QStringLiteral("*_%1*.qm").arg(part)}, QDir::Files, QDir::Name);
    // The file name's language must be the whole first part: "r" or an empty part ("_RU") must not
    // pick up cx-gate_ru.qm through the wildcard.
    const QRegularExpression whole(QStringLiteral("_%1[._]").arg(QRegularExpression::escape(part)),
                                   QRegularExpression::CaseInsensitiveOption);
    for (const QString &file : files) {
        if (!part.isEmpty() && whole.match(file).hasMatch())
            return file;
    }
    return QString();
}

void AppTranslations::load(QList<QTranslator *> &list, QCoreApplication *app, QSettings *settings,
                           const QString &folder)
{
    const QString language = storedLanguage(settings);

    auto qt = std::make_unique<QTranslator>();
    if (qt->load(QStringLiteral("qt_") + language, QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        install(list, app, std::move(qt));

    const QString file = programFile(folder, language);
    if (file.isEmpty())
        return;
    auto own = std::make_unique<QTranslator>();
    if (own->load(QStringLiteral(":/%1/%2").arg(folder, file)))
        install(list, app, std::move(own));
}

void AppTranslations::unload(QList<QTranslator *> &list, QCoreApplication *app)
{
    for (QTranslator *translator : qAsConst(list)) {
        app->removeTranslator(translator);
        delete translator;
    }
    list.clear();
}
