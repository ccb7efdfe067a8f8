#include "app/translations.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <cstring>

namespace {

// Qt's texts that its Brazilian translation lacks (the file dialogs' "Tipo" column).
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (!context || !sourceText || std::strcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> texts{
            {"Folder", QStringLiteral("Pasta")},  {"File Folder", QStringLiteral("Pasta")},
            {"Drive", QStringLiteral("Unidade")}, {"Shortcut", QStringLiteral("Atalho")},
            {"Alias", QStringLiteral("Atalho")},  {"Unknown", QStringLiteral("Desconhecido")},
            {"File", QStringLiteral("Arquivo")},  {"%1 File", QStringLiteral("Arquivo %1")},
        };
        return texts.value(QByteArray(sourceText));
    }
    bool isEmpty() const override { return false; }
};

} // namespace

void usePortugueseLocale()
{
    // Dates in the file dialogs follow the system's time locale: Brazilian, unless the
    // user set every category with LC_ALL. Only the time category: numbers written by
    // the C library keep their point.
    if (qEnvironmentVariableIsEmpty("LC_ALL"))
        qputenv("LC_TIME", "pt_BR.UTF-8");
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
}

bool installQtTranslations(QCoreApplication &app)
{
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QCoreApplication::installTranslator(new MissingQtTexts(&app));
    auto *translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_pt_BR"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    return true;
}
