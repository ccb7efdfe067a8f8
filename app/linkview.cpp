#include "app/linkview.h"

#include "app/layout.h"
#include "app/widgetscreen.h"
#include "common/names.h"
#include "session/portsession.h"

#include <QCheckBox>
#include <QLabel>
#include <QSet>
#include <QSettings>

namespace linkview {
namespace {

QLabel *label(QWidget *parent, const QString &name, const QRect &r, Qt::Alignment align)
{
    auto *l = new QLabel(parent);
    l->setObjectName(name);
    l->setGeometry(r);
    l->setAlignment(align);
    return l;
}

const QString checkSettingKey = QStringLiteral("verificarModuloAoConectar");

QSettings settings() { return QSettings(QStringLiteral("Velto"), QStringLiteral("Velto")); }

} // namespace

void build(QWidget *form, QWidget *mapPage, QWidget *configPage)
{
    const int pagesHeight = form->height();
    form->setFixedSize(form->width(), pagesHeight + statusHeight);
    QLabel *status = label(form, QStringLiteral("lbConexao"), QRect(8, pagesHeight, form->width() - 16, statusHeight),
                           Qt::AlignLeft | Qt::AlignVCenter);
    status->setText(linkstatus::text(LinkState::Closed, {}));
    // Above the read-outs on the map page, under "&Lêr  Dados" and "&Enviar  Dados"
    // on the configuration page: the free places nearest to what it is about.
    const linkstatus::ModuleStatus unknown;
    label(mapPage, QStringLiteral("lbModulo"), QRect(232, 393, 424, 18), Qt::AlignCenter)
        ->setText(linkstatus::text(unknown));
    label(configPage, QStringLiteral("lbModulo1"), QRect(650, 624, 312, 20), Qt::AlignCenter)
        ->setText(linkstatus::text(unknown));
    auto *check = new QCheckBox(QStringLiteral("Verificar o módulo ao conectar"), configPage);
    check->setObjectName(QStringLiteral("ckVerificarModulo"));
    check->setGeometry(14, 630, 320, 22);
    check->setToolTip(QStringLiteral("Ao ativar a porta, lê o módulo e compara com a tela (nada é enviado sem "
                                     "perguntar). Depois de uma reconexão a leitura é sempre feita."));
}

void wireCheckSetting(WidgetScreen &screen, PortSession &session)
{
    auto *check = screen.get<QCheckBox>(QStringLiteral("ckVerificarModulo"));
    check->setChecked(settings().value(checkSettingKey, false).toBool());
    session.setCheckOnActivate(check->isChecked());
    QObject::connect(check, &QCheckBox::toggled, check, [&session](bool on) {
        session.setCheckOnActivate(on);
        settings().setValue(checkSettingKey, on);
    });
}

void dimReadouts(WidgetScreen &screen)
{
    for (const QString &r : layout::readouts()) {
        if (r.startsWith(QLatin1String("eScanner")))
            screen.setFontColor(r, colors::silver);
        else
            screen.setText(r, QString());
    }
}

void setUnsent(QWidget *cell, bool unsent)
{
    QFont font = cell->font();
    if (font.italic() == unsent)
        return;
    font.setItalic(unsent);
    cell->setFont(font);
}

void show(WidgetScreen &screen, const QString &linkText, const linkstatus::ModuleStatus &module,
          const QStringList &unsentControls)
{
    auto setText = [&screen](const QString &name, const QString &text) {
        auto *l = screen.get<QLabel>(name);
        if (l->text() != text)
            l->setText(text);
    };
    setText(QStringLiteral("lbConexao"), linkText);
    const QString moduleText = linkstatus::text(module);
    setText(QStringLiteral("lbModulo"), moduleText);
    setText(QStringLiteral("lbModulo1"), moduleText);

    const QSet<QString> unsent(unsentControls.begin(), unsentControls.end());
    for (int k = 0; k < 72; ++k)
        for (const QString &cell : {names::ignitionCell(k), names::injectionCell(k)})
            setUnsent(screen.widget(cell), unsent.contains(cell));
}

} // namespace linkview
