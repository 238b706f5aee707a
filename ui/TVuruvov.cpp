#include "ui/TVuruvov.h"

#include "ui/ErrorBox.h"
#include "ui/Lamp.h"
#include "ui/QualityTab.h"
#include "ui/QueueListModel.h"
#include "ui/TFportselector.h"
#include "ui/TextListModel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace ui {

namespace {

using config::SettingId;
using config::SettingKind;
using config::Settings;
using station::Field;
using station::Light;
using station::LivePanel;

QString nameOf(Field field) {
    return QString::fromUtf16(LivePanel::definition(field).name);
}

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText); // device text is never markup
    return label;
}

// Where each setting sits on the "Configuración" tab, by name rather than by its position in the
// settings table: the alert rows (a field's failure pattern beside its event threshold), the rest of
// the left column, the two camera lists side by side, and the right column.
constexpr std::pair<SettingId, SettingId> kAlertRows[] = {
    {SettingId::EDFHHH, SettingId::EVhhh},   {SettingId::EDFLLL, SettingId::evlll},
    {SettingId::EDFWWW, SettingId::evwww},   {SettingId::EDfPDF417, SettingId::evpdf417},
    {SettingId::EDFC128, SettingId::evc128}, {SettingId::EDFBCC, SettingId::EvBCC},
};
constexpr SettingId kLeftRows[] = {SettingId::EdSeparador,  SettingId::edsepdim,   SettingId::Gcm,
                                   SettingId::EdIDServidor, SettingId::EdIpserver, SettingId::Edpuerto};
constexpr SettingId kCameraLists[] = {SettingId::LogiPs, SettingId::LogCamNombre};
constexpr SettingId kRightRows[] = {
    SettingId::EdCarpetaBase,
    SettingId::Eddb,
    SettingId::ChkVdos,
    SettingId::EdMailserver,
    SettingId::EdMailport,
    SettingId::EdMailuser,
    SettingId::EdMailPass,
    SettingId::EdRemitente,
    SettingId::EdREsponder_A,
    SettingId::EdAsunto,
    SettingId::Maillist,
    SettingId::EdCarpeta_Destino_ethernet,
    SettingId::edCarpeta_destino_rs232,
    SettingId::Mturno,
};

// Every setting has exactly one place on the tab.
constexpr bool everySettingPlacedOnce() {
    int seen[config::kSettingCount] = {};
    for (const auto& [pattern, threshold] : kAlertRows) {
        ++seen[int(pattern)];
        ++seen[int(threshold)];
    }
    for (const SettingId id : kLeftRows)
        ++seen[int(id)];
    for (const SettingId id : kCameraLists)
        ++seen[int(id)];
    for (const SettingId id : kRightRows)
        ++seen[int(id)];
    for (const int count : seen) {
        if (count != 1)
            return false;
    }
    return true;
}
static_assert(everySettingPlacedOnce());

// Where each field of the "Operación" tab sits: its row, the grid column of its caption (-1: the
// field has none) and of its value. Columns 0-2 and 3-5 are two caption / counter / value groups;
// a counter stands left of the value it counts for.
struct FieldPlace {
    Field field;
    int row;
    int captionColumn;
    int valueColumn;
    int span;
};

// clang-format off
constexpr FieldPlace kFieldPlaces[] = {
    {Field::Lfecha,      0, 0, 2, 4},
    {Field::Lorigen,     1, 0, 2, 1}, {Field::Lseq,        1, 3, 5, 1},
    {Field::lcc128,      2,-1, 1, 1}, {Field::LC128,       2, 0, 2, 4},
    {Field::Lcc128_32,   3,-1, 1, 1}, {Field::LC128_32,    3, 0, 2, 4},
    {Field::Lhhh,        4, 0, 2, 1}, {Field::llll,        4, 3, 5, 1},
    {Field::LCwww,       5,-1, 1, 1}, {Field::lwww,        5, 0, 2, 1}, {Field::lpeso,  5, 3, 5, 1},
    {Field::LCPDF417,    6,-1, 1, 1}, {Field::lplaza,      6, 0, 2, 1}, {Field::lpesov, 6, 3, 5, 1},
    {Field::lProcesados, 7, 0, 2, 1}, {Field::lStatus,     7, 3, 5, 1},
    {Field::fem,         8, 0, 2, 1}, {Field::fsm,         8,-1, 4, 1},
    // hidden
    {Field::Lbuenos,     9, 0, 2, 1}, {Field::Lmalos,      9, 3, 5, 1},
    {Field::Lcalidad,   10, 0, 2, 1}, {Field::lCHHH,      10,-1, 1, 1}, {Field::lclll, 10,-1, 4, 1},
    {Field::Logflash,   11,-1, 2, 4},
    {Field::LULE,       12, 0, 2, 1}, {Field::LULR,       12, 3, 5, 1},
};
// clang-format on

// Memos keep their lines joined by CR LF; the editor works with LF.
QString memoToEditor(QString text) {
    return text.replace(u"\r\n"_s, u"\n"_s);
}
QString editorToMemo(QString text) {
    return text.replace(u'\n', u"\r\n"_s);
}

constexpr char16_t kAcercaDe[] =
    u"OrvaneDB \u2014 estaci\u00f3n de captura de lecturas\n"
    u"\n"
    u"La estaci\u00f3n est\u00e1 junto a la banda de paquetes. Las c\u00e1maras de lectura y "
    u"dimensionamiento se conectan por TCP al puerto de \"Puerto TCP:\" (5010 de f\u00e1brica) y "
    u"env\u00edan una l\u00ednea de texto por paquete, terminada en LF; una c\u00e1mara tambi\u00e9n "
    u"puede ir conectada al puerto serial. Cada l\u00ednea recibida se muestra en la pesta\u00f1a "
    u"\"Log ethernet\" mientras espera su turno, se analiza, se muestra en \"Operaci\u00f3n\" y se "
    u"guarda como una fila de la tabla paquetes de la base de datos Firebird.\n"
    u"\n"
    u"Formato de la lectura\n"
    u"Tras un encabezado de 6, 7 o 9 caracteres, los campos van separados por el \"Separador "
    u"campo:\" (\"!\" de f\u00e1brica). Cada campo se reconoce por su largo:\n"
    u"  6 caracteres: n\u00famero de secuencia\n"
    u"  22 caracteres: gu\u00eda en C\u00f3digo 128\n"
    u"  32 caracteres: grupo C\u00f3digo 128 con c\u00f3digo, peso y plaza\n"
    u"  14 a 17 caracteres: dimensiones H, L y W separadas por el \"Sep dim:\" (\"x\" de f\u00e1brica)\n"
    u"Los n\u00fameros usan el punto como separador decimal. Con las dimensiones y el peso se "
    u"calcula el peso volum\u00e9trico y el estatus (Con dim / Sin dim, Con peso / Sin peso, "
    u"Con gu\u00eda / Sin gu\u00eda). Las lecturas fallidas se cuentan por campo; cuando un campo "
    u"falla demasiadas veces seguidas se env\u00eda un correo de alerta.\n"
    u"\n"
    u"Archivos de log\n"
    u"Los logs crudos se graban como texto en archivos llamados DDMMAAAA-hhmmcc.txt: d\u00eda, mes "
    u"y a\u00f1o, un guion, hora y minuto, y un contador de dos d\u00edgitos (00 a 99), por ejemplo "
    u"24042007-205003.txt. \"Guardar Log\" y el cierre los escriben en las carpetas Ethernet y "
    u"RS232; el grabado peri\u00f3dico (\"Grabar cada (min):\") escribe bajo la \"Carpeta Base:\".\n";

} // namespace

TVuruvov::TVuruvov(const StationModels& models, QWidget* parent)
    : QMainWindow(parent)
    , m_queueModel(new QueueListModel(this))
    , m_logEthernetModel(new TextListModel(this))
    , m_logRS232Model(new TextListModel(this))
    , m_errorBox(new ErrorBox(this))
    , m_serialPort(models.serialPort) {
    setObjectName(u"Vuruvov"_s);
    setWindowTitle(u"Orvane-i DB"_s);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(u"PageControl1"_s);
    m_tabs->setTabPosition(QTabWidget::South);
    m_tabs->addTab(buildOperacion(models), u"Operaci\u00f3n"_s);
    m_tabs->addTab(buildConfiguracion(models.settings), u"Configuraci\u00f3n"_s);
    m_tabs->setTabToolTip(1, QKeySequence(kPortDialogKey).toString(QKeySequence::NativeText) +
                                 u": Config Puerto serial"_s);
    m_tabs->addTab(buildAcercaDe(), u"Acerca de"_s);
    m_tabs->addTab(buildLogEthernet(models), u"Log ethernet"_s);
    m_tabs->addTab(buildLogRs232(models), u"Log rs232"_s);
    m_tabs->setTabVisible(4, false);
    m_qualityTab = new QualityTab(m_clock, m_tabs);
    m_tabs->addTab(m_qualityTab, u"Calidad"_s);
    m_processedSeen = models.panel.text(Field::lProcesados).toLongLong();
    if (const auto& last = models.alerts.last(); last.at.isValid())
        m_qualityTab->showLastAlert(last.at, last.sent, last.outcome);
    m_tabs->setCurrentIndex(0);
    setCentralWidget(m_tabs);
    buildStatusBar(models.panel);

    resize(kClientWidth, kClientHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect designed(QPoint(), QSize(kClientWidth, kClientHeight));
        designed.moveCenter(screen->availableGeometry().center());
        move(designed.topLeft());
    }

    m_frame.setSingleShot(true);
    m_frame.setInterval(kFrameMs);
    connect(&m_frame, &QTimer::timeout, this, &TVuruvov::applyFrame);
    connectModels(models);
}

TVuruvov::~TVuruvov() = default;

QWidget* TVuruvov::buildOperacion(const StationModels& models) {
    const LivePanel& panel = models.panel;
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet1"_s);
    auto* outer = new QVBoxLayout(page);

    auto* version = plainLabel(LivePanel::kVersionCaption.toString(), page);
    version->setObjectName(u"LVersion"_s);
    version->setProperty("role", u"version"_s);
    version->setAlignment(Qt::AlignRight);
    outer->addWidget(version);

    auto* middle = new QHBoxLayout;
    outer->addLayout(middle, 1);

    // The lights in the left margin, top to bottom.
    auto* lights = new QVBoxLayout;
    lights->setSpacing(10);
    for (int i = 0; i < station::kLightCount; ++i) {
        const Light light = static_cast<Light>(i);
        const auto& d = LivePanel::definition(light);
        auto* lamp = new Lamp(page);
        lamp->setObjectName(QString::fromUtf16(d.name));
        lamp->setToolTip(QString::fromUtf16(d.hint));
        lamp->setLit(panel.isLit(light));
        lights->addWidget(lamp);
        m_lamps[std::size_t(i)] = lamp;
    }
    lights->addStretch(1);
    middle->addLayout(lights);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(5, 1);
    for (const FieldPlace& place : kFieldPlaces) {
        const auto& d = LivePanel::definition(place.field);
        auto* value = plainLabel(panel.text(place.field), page);
        value->setObjectName(nameOf(place.field));
        value->setProperty("role", u"value"_s);
        const bool counter = place.valueColumn == 1 || place.valueColumn == 4;
        if (counter) {
            value->setMinimumWidth(32);
            value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        } else {
            // A long value is cut off rather than pushing the layout about on every record.
            value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        }
        grid->addWidget(value, place.row, place.valueColumn, 1, place.span);
        m_fields[std::size_t(place.field)] = value;
        QLabel* caption = nullptr;
        if (place.captionColumn >= 0 && d.caption[0] != u'\0') {
            caption = plainLabel(QString::fromUtf16(d.caption), page);
            caption->setObjectName(nameOf(place.field) + u"Caption"_s);
            grid->addWidget(caption, place.row, place.captionColumn);
        }
        if (!d.shown) {
            value->hide();
            if (caption)
                caption->hide();
        }
    }
    middle->addLayout(grid, 1);

    for (const Field field : {Field::Label1, Field::Label51}) {
        auto* label = plainLabel(panel.text(field), page);
        label->setObjectName(nameOf(field));
        outer->addWidget(label);
        m_fields[std::size_t(field)] = label;
    }

    // The analysed record, or the database's complaint about it, along the bottom of the tab.
    auto* frame = new QFrame(page);
    frame->setObjectName(u"Label54Frame"_s);
    frame->setFrameShape(QFrame::StyledPanel);
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->setContentsMargins(6, 4, 6, 4);
    auto* label54 = plainLabel(panel.text(Field::Label54), frame);
    label54->setObjectName(nameOf(Field::Label54));
    label54->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label54->setTextInteractionFlags(Qt::TextSelectableByMouse);
    frameLayout->addWidget(label54);
    m_fields[std::size_t(Field::Label54)] = label54;
    outer->addWidget(frame);

    auto* commands = new QHBoxLayout;
    struct Command {
        const char16_t* name;
        const char16_t* caption;
        bool shown;
        void (TVuruvov::*clicked)();
    };
    const Command buttons[] = {
        {u"Button6", u"Email", false, &TVuruvov::emailClicked},
        {u"Button4", u"Conectar", false, &TVuruvov::conectarClicked},
        {u"Button1", u"Iniciar", true, &TVuruvov::iniciarClicked},
        {u"Button2", u"Parar", true, &TVuruvov::pararClicked},
        {u"Button3", u"Guardar Log", true, &TVuruvov::guardarLogClicked},
        {u"Button7", u"Reset", true, &TVuruvov::resetClicked},
    };
    for (const Command& c : buttons) {
        auto* button = new QPushButton(QString::fromUtf16(c.caption), page);
        button->setObjectName(QString::fromUtf16(c.name));
        button->setVisible(c.shown);
        connect(button, &QPushButton::clicked, this, c.clicked);
        commands->addWidget(button);
    }
    commands->addStretch(1);
    outer->addLayout(commands);
    auto* email = new QShortcut(QKeySequence(kEmailShortcut), this);
    connect(email, &QShortcut::activated, this, &TVuruvov::emailClicked);
    return page;
}

QWidget* TVuruvov::makeSettingEditor(const config::SettingDefinition& d, const QVariant& value,
                                     QWidget* parent) {
    const SettingId id = d.id;
    QWidget* editor = nullptr;
    switch (d.kind) {
    case SettingKind::Text: {
        auto* edit = new QLineEdit(value.toString(), parent);
        connect(edit, &QLineEdit::textEdited, this,
                [this, id](const QString& text) { postSetting(id, text); });
        if (id == SettingId::EdMailPass) {
            edit->setEchoMode(QLineEdit::Password);
            edit->setStyleSheet(u"lineedit-password-character: 42;"_s);
        }
        editor = edit;
        break;
    }
    case SettingKind::Real: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(int(d.minimum), int(d.maximum));
        spin->setValue(qRound(value.toDouble()));
        connect(spin, &QSpinBox::valueChanged, this, [this, id](int v) {
            if (!m_showingSetting)
                postSetting(id, double(v));
        });
        editor = spin;
        break;
    }
    case SettingKind::Lines: {
        auto* memo = new QPlainTextEdit(memoToEditor(value.toString()), parent);
        memo->setLineWrapMode(QPlainTextEdit::NoWrap);
        connect(memo, &QPlainTextEdit::textChanged, this, [this, id, memo] {
            if (!m_showingSetting)
                postSetting(id, editorToMemo(memo->toPlainText()));
        });
        editor = memo;
        break;
    }
    case SettingKind::Check: {
        auto* check = new QCheckBox(QString::fromUtf16(d.caption), parent);
        check->setChecked(value.toBool());
        connect(check, &QCheckBox::toggled, this, [this, id](bool on) {
            if (!m_showingSetting)
                postSetting(id, on);
        });
        editor = check;
        break;
    }
    }
    editor->setObjectName(QString::fromUtf16(d.name));
    editor->setVisible(d.shown);
    m_editors[std::size_t(id)] = editor;
    return editor;
}

QWidget* TVuruvov::buildConfiguracion(const Settings& settings) {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet2"_s);
    auto* columns = new QHBoxLayout(page);

    const auto definitions = Settings::definitions();
    auto captionFor = [page](const config::SettingDefinition& d) {
        auto* caption = plainLabel(QString::fromUtf16(d.caption), page);
        caption->setObjectName(QString::fromUtf16(d.name) + u"Caption"_s);
        caption->setVisible(d.shown);
        return caption;
    };

    // Left: the alert rows (failure pattern and event threshold of each field), then the reading
    // and server settings.
    auto* left = new QGridLayout;
    left->setColumnStretch(1, 1);
    int row = 0;
    const std::pair<const char16_t*, const char16_t*> headings[] = {
        {u"Parametro", u"HeadParametro"}, {u"Falla", u"HeadFalla"}, {u"Eventos", u"HeadEventos"}};
    for (int column = 0; column < 3; ++column) {
        auto* heading = plainLabel(QString::fromUtf16(headings[column].first), page);
        heading->setObjectName(QString::fromUtf16(headings[column].second));
        heading->setStyleSheet(u"font-weight: bold;"_s);
        left->addWidget(heading, row, column);
    }
    ++row;
    for (const auto& [patternId, thresholdId] : kAlertRows) {
        const auto& pattern = definitions[std::size_t(patternId)];
        const auto& threshold = definitions[std::size_t(thresholdId)];
        auto* caption = captionFor(pattern);
        caption->setVisible(pattern.shown || threshold.shown);
        left->addWidget(caption, row, 0);
        left->addWidget(makeSettingEditor(pattern, settings.value(pattern.id), page), row, 1);
        left->addWidget(makeSettingEditor(threshold, settings.value(threshold.id), page), row, 2);
        ++row;
    }
    for (const SettingId id : kLeftRows) {
        const auto& d = definitions[std::size_t(id)];
        left->addWidget(captionFor(d), row, 0);
        left->addWidget(makeSettingEditor(d, settings.value(d.id), page), row, 1, 1, 2);
        ++row;
    }
    left->setRowStretch(row, 1);
    columns->addLayout(left, 1);

    // Right: the two camera lists side by side, then the folders, the database, and the hidden
    // mail settings.
    auto* right = new QGridLayout;
    right->setColumnStretch(1, 1);
    row = 0;
    auto* lists = new QGridLayout;
    int column = 0;
    for (const SettingId id : kCameraLists) {
        const auto& d = definitions[std::size_t(id)];
        lists->addWidget(captionFor(d), 0, column);
        lists->addWidget(makeSettingEditor(d, settings.value(d.id), page), 1, column);
        ++column;
    }
    right->addLayout(lists, row++, 0, 1, 2);
    for (const SettingId id : kRightRows) {
        const auto& d = definitions[std::size_t(id)];
        if (d.kind == SettingKind::Check) {
            right->addWidget(makeSettingEditor(d, settings.value(d.id), page), row++, 0, 1, 2);
            continue;
        }
        if (d.caption[0] != u'\0')
            right->addWidget(captionFor(d), row, 0,
                             d.kind == SettingKind::Lines ? Qt::AlignTop : Qt::Alignment());
        right->addWidget(makeSettingEditor(d, settings.value(d.id), page), row++, 1);
    }
    // Opens the serial port settings dialog; kept off the screen, so the tab's shortcut does.
    auto* serial = new QPushButton(u"Config Puerto serial"_s, page);
    serial->setObjectName(u"Br"_s);
    serial->hide();
    connect(serial, &QPushButton::clicked, this, &TVuruvov::BrClick);
    // A window-wide key owned by the page: it only works while the page is the tab on show.
    auto* shortcut = new QShortcut(QKeySequence(kPortDialogKey), page);
    connect(shortcut, &QShortcut::activated, this, &TVuruvov::BrClick);
    right->addWidget(serial, row++, 0, 1, 2);
    right->setRowStretch(row, 1);
    columns->addLayout(right, 1);
    return page;
}

QWidget* TVuruvov::buildAcercaDe() {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet3"_s);
    auto* layout = new QVBoxLayout(page);
    auto* text = new QPlainTextEdit(QString::fromUtf16(kAcercaDe), page);
    text->setObjectName(u"Memo1"_s);
    layout->addWidget(text);
    return page;
}

QWidget* TVuruvov::buildLogEthernet(const StationModels& models) {
    auto* page = new QWidget;
    page->setObjectName(u"TSLogEthernet"_s);
    auto* layout = new QVBoxLayout(page);
    auto* heading = plainLabel(u"Data recibida ethernet:"_s, page);
    heading->setObjectName(u"Label24"_s);
    layout->addWidget(heading);

    auto* queue = new QListView(page);
    queue->setObjectName(u"L1"_s);
    queue->setUniformItemSizes(true);
    queue->setEditTriggers(QAbstractItemView::NoEditTriggers);
    queue->setStyleSheet(u"QListView { background: silver; color: black; }"_s);
    queue->setModel(m_queueModel);
    layout->addWidget(queue, 1);

    auto* logEthernet = new QListView(page);
    logEthernet->setObjectName(u"logEthernet"_s);
    logEthernet->setUniformItemSizes(true);
    m_logEthernetModel->noteReplaced(models.logEthernet.entries());
    m_logEthernetModel->apply();
    logEthernet->setModel(m_logEthernetModel);
    logEthernet->hide();
    layout->addWidget(logEthernet);

    m_fallas = new QPlainTextEdit(models.panel.text(Field::Fallas), page);
    m_fallas->setObjectName(nameOf(Field::Fallas));
    m_fallas->setReadOnly(true);
    m_fallas->hide();
    layout->addWidget(m_fallas);
    return page;
}

QWidget* TVuruvov::buildLogRs232(const StationModels& models) {
    auto* page = new QWidget;
    page->setObjectName(u"TabSheet5"_s);
    auto* layout = new QVBoxLayout(page);
    auto* log = new QListView(page);
    log->setObjectName(u"logRS232"_s);
    log->setUniformItemSizes(true);
    m_logRS232Model->noteReplaced(models.logRS232.entries());
    m_logRS232Model->apply();
    log->setModel(m_logRS232Model);
    layout->addWidget(log);
    return page;
}

void TVuruvov::buildStatusBar(const LivePanel& panel) {
    QStatusBar* sb = statusBar();
    sb->setObjectName(u"sb"_s);
    sb->setSizeGripEnabled(false);
    for (int i = 0; i < station::kStatusPanelCount; ++i) {
        auto* label = plainLabel(panel.status(i), sb);
        label->setObjectName(u"sb%1"_s.arg(i));
        label->setFixedWidth(LivePanel::kStatusPanelWidths[std::size_t(i)]);
        sb->addWidget(label);
        m_statusPanels[std::size_t(i)] = label;
    }
    m_backlog = plainLabel(QString(), sb);
    m_backlog->setObjectName(u"sbBD"_s);
    m_backlog->setStyleSheet(u"color: #b00000; font-weight: bold;"_s);
    m_backlog->hide();
    sb->addPermanentWidget(m_backlog);
}

void TVuruvov::showDatabaseBacklog(const QString& text) {
    m_backlog->setText(text);
    m_backlog->setVisible(!text.isEmpty());
}

void TVuruvov::showAlertOutcome(const QString& text) {
    statusBar()->setToolTip(text);
}

void TVuruvov::showField(Field field, const QString& text) {
    m_pendingTexts[std::size_t(field)] = text;
    if (field == Field::lProcesados) {
        bool ok = false;
        const qint64 processed = text.toLongLong(&ok);
        if (ok && processed > m_processedSeen)
            m_qualityTab->addRows(int(processed - m_processedSeen));
        if (ok)
            m_processedSeen = processed;
    } else if (field == Field::Lcalidad) {
        m_qualityTab->showQuality(text);
    }
}

void TVuruvov::connectModels(const StationModels& models) {
    // Every connection is made with this window as context: signals from the core's and the
    // connections' threads arrive queued on this one.
    connect(&models.panelChanges, &station::PanelRelay::changed, this,
            [this](const station::PanelChanges& changes) {
                for (const station::PanelChange& change : changes) {
                    switch (change.kind) {
                    case station::PanelChange::Kind::Field:
                        showField(static_cast<Field>(change.index), change.text);
                        break;
                    case station::PanelChange::Kind::Light:
                        m_pendingLights[std::size_t(change.index)] = change.lit;
                        break;
                    case station::PanelChange::Kind::Status:
                        if (change.index >= 0 && change.index < station::kStatusPanelCount)
                            m_pendingStatus[std::size_t(change.index)] = change.text;
                        break;
                    }
                }
                noteChange();
            });
    connect(&models.alerts, &app::AlertTally::changed, m_qualityTab, &QualityTab::showLastAlert);
    connect(&models.queue, &station::IntakeQueue::appended, this,
            [this](quint64 sequence, const QString& line) {
                m_queueModel->noteAppended(sequence, line);
                noteChange();
            });
    connect(&models.queue, &station::IntakeQueue::removed, this, [this](quint64 sequence) {
        m_queueModel->noteRemoved(sequence);
        noteChange();
    });
    connect(&models.logEthernet, &station::RawLog::appended, this, [this](const QString& entry) {
        m_logEthernetModel->noteAppended(entry);
        noteChange();
    });
    connect(&models.logEthernet, &station::RawLog::replaced, this, [this](const QStringList& entries) {
        m_logEthernetModel->noteReplaced(entries);
        noteChange();
    });
    connect(&models.logRS232, &station::RawLog::appended, this, [this](const QString& entry) {
        m_logRS232Model->noteAppended(entry);
        noteChange();
    });
    connect(&models.logRS232, &station::RawLog::replaced, this, [this](const QStringList& entries) {
        m_logRS232Model->noteReplaced(entries);
        noteChange();
    });
    connect(&models.settings, &Settings::changed, this, &TVuruvov::settingChanged);
    connect(&models.errors, &base::ErrorReport::reported, this, &TVuruvov::showError);
}

void TVuruvov::postSetting(SettingId id, const QVariant& value) {
    ++m_editsInFlight[std::size_t(id)];
    Q_EMIT settingEdited(id, value);
}

void TVuruvov::settingChanged(SettingId id, const QVariant& value) {
    int& inFlight = m_editsInFlight[std::size_t(id)];
    if (inFlight > 0) {
        // The echo of one of our own edits; the editor already shows the newest text.
        --inFlight;
        return;
    }
    showSetting(id, value);
}

void TVuruvov::showSetting(SettingId id, const QVariant& value) {
    QWidget* const editor = m_editors[std::size_t(id)];
    if (!editor)
        return;
    m_showingSetting = true;
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
        if (edit->text() != value.toString())
            edit->setText(value.toString());
    } else if (auto* spin = qobject_cast<QSpinBox*>(editor)) {
        spin->setValue(qRound(value.toDouble()));
    } else if (auto* memo = qobject_cast<QPlainTextEdit*>(editor)) {
        const QString text = memoToEditor(value.toString());
        if (memo->toPlainText() != text)
            memo->setPlainText(text);
    } else if (auto* check = qobject_cast<QCheckBox*>(editor)) {
        check->setChecked(value.toBool());
    }
    m_showingSetting = false;
}

void TVuruvov::noteChange() {
    if (!m_frame.isActive())
        m_frame.start();
}

void TVuruvov::applyFrame() {
    ++m_framesApplied;
    for (int i = 0; i < station::kFieldCount; ++i) {
        std::optional<QString>& pending = m_pendingTexts[std::size_t(i)];
        if (!pending)
            continue;
        if (static_cast<Field>(i) == Field::Fallas)
            m_fallas->setPlainText(*pending);
        else if (QLabel* label = m_fields[std::size_t(i)])
            label->setText(*pending);
        pending.reset();
    }
    for (int i = 0; i < station::kLightCount; ++i) {
        std::optional<bool>& pending = m_pendingLights[std::size_t(i)];
        if (pending) {
            m_lamps[std::size_t(i)]->setLit(*pending);
            pending.reset();
        }
    }
    for (int i = 0; i < station::kStatusPanelCount; ++i) {
        std::optional<QString>& pending = m_pendingStatus[std::size_t(i)];
        if (pending) {
            m_statusPanels[std::size_t(i)]->setText(QueueListModel::displayText(*pending));
            pending.reset();
        }
    }
    m_queueModel->apply();
    m_logEthernetModel->apply();
    m_logRS232Model->apply();
}

void TVuruvov::showError(const QString& message) {
    m_errorBox->report(message);
}

void TVuruvov::BrClick() {
    auto* dialog = new TFportselector(m_serialPort, this);
    // Modal without a loop of its own: the window keeps following the core meanwhile.
    connect(dialog, &QDialog::finished, this, [this, dialog] {
        Q_EMIT serialPortChosen(dialog->selection());
        dialog->deleteLater();
    });
    dialog->open();
}

void TVuruvov::showSerialPort(const config::SerialPortSettings& settings) {
    m_serialPort = settings;
}

void TVuruvov::stationClosed() {
    m_closeGranted = true;
    close();
}

void TVuruvov::stationCloseFailed(const QString& message) {
    m_closeRequested = false;
    showError(message);
}

void TVuruvov::closeEvent(QCloseEvent* event) {
    if (m_closeGranted) {
        event->accept();
        return;
    }
    // The core runs the close handler; the window goes only when it says the close went through.
    event->ignore();
    if (!m_closeRequested) {
        m_closeRequested = true;
        Q_EMIT closeRequested();
    }
    // A core on this thread may have answered already, inside the signal.
    if (m_closeGranted)
        event->accept();
}

} // namespace ui
