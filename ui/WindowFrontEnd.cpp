#include "ui/WindowFrontEnd.h"

#include "app/CoreStation.h"
#include "app/JournalStream.h"
#include "ui/PlacementOnScreen.h"

namespace ui {

using app::CoreStation;

namespace {

StationModels modelsOf(CoreStation& core) {
    return {core.panel(),    core.panelRelay(), core.settings(),   core.queue(), core.logEthernet(),
            core.logRS232(), core.errors(),     core.serialPort(), core.alerts()};
}

} // namespace

WindowFrontEnd::WindowFrontEnd(CoreStation& core, QObject* parent)
    : QObject(parent)
    , m_core(core)
    , m_window(modelsOf(core))
    , m_messageEditor(core.alertMail().state(), &m_window) {
    auto post = [this](void (CoreStation::*command)()) {
        return [this, command] { QMetaObject::invokeMethod(&m_core, command, Qt::QueuedConnection); };
    };
    connect(&m_window, &TVuruvov::iniciarClicked, this, post(&CoreStation::iniciar));
    connect(&m_window, &TVuruvov::pararClicked, this, post(&CoreStation::parar));
    connect(&m_window, &TVuruvov::guardarLogClicked, this, post(&CoreStation::guardar));
    connect(&m_window, &TVuruvov::resetClicked, this, post(&CoreStation::reset));
    connect(&m_window, &TVuruvov::closeRequested, this, [this] {
        // Taken here and now: by the time the core runs the close the window may look otherwise.
        QMetaObject::invokeMethod(
            &m_core, [core = &m_core, placement = placementOf(m_window)] { core->close(placement); },
            Qt::QueuedConnection);
    });
    connect(&m_window, &TVuruvov::settingEdited, this, [this](config::SettingId id, const QVariant& value) {
        QMetaObject::invokeMethod(
            &m_core, [core = &m_core, id, value] { core->setSetting(id, value); }, Qt::QueuedConnection);
    });
    connect(&m_window, &TVuruvov::serialPortChosen, this, [this](const config::SerialPortSettings& chosen) {
        QMetaObject::invokeMethod(
            &m_core, [core = &m_core, chosen] { core->setSerialPort(chosen); }, Qt::QueuedConnection);
    });
    connect(&core, &CoreStation::serialPortChanged, &m_window, &TVuruvov::showSerialPort);
    connect(&core, &CoreStation::placementRestored, &m_window,
            [window = &m_window](const station::WindowPlacement& placement) {
                applyPlacement(*window, placement);
            });
    connect(&core, &CoreStation::closed, &m_window, &TVuruvov::stationClosed);

    // The message editor: opened without a nested event loop, its edits and the test send posted
    // to the core, the test's error shown like any other.
    connect(&m_window, &TVuruvov::emailClicked, &m_messageEditor, &QDialog::open);
    connect(&m_messageEditor, &TfrmMessageEditor::edited, this, [this](const alerts::EditorState& state) {
        QMetaObject::invokeMethod(
            &m_core, [core = &m_core, state] { core->setEditorState(state); }, Qt::QueuedConnection);
    });
    connect(&m_messageEditor, &TfrmMessageEditor::sendClicked, this, post(&CoreStation::correo));
    connect(&core.alertMail(), &alerts::MessageEditor::stateChanged, &m_messageEditor,
            &TfrmMessageEditor::showState);
    connect(&core.alertMail(), &alerts::MessageEditor::sendFinished, &m_window,
            [window = &m_window](alerts::MailOutbox::Kind kind, const QString& error) {
                if (kind == alerts::MailOutbox::Kind::Test && !error.isEmpty())
                    window->showError(error);
            });
    connect(&core.alertReport(), &alerts::AlertReport::changed, &m_window, &TVuruvov::showAlertOutcome);
    connect(&core.databaseBacklog(), &app::DatabaseBacklog::statusChanged, &m_window,
            &TVuruvov::showDatabaseBacklog);
    connect(&core.databaseBacklog(), &app::DatabaseBacklog::notice, this,
            [](const QString& line, base::Priority priority) { app::printToStderr(priority, line); });
    connect(&core, &CoreStation::closeFailed, &m_window, &TVuruvov::stationCloseFailed);
}

WindowFrontEnd::~WindowFrontEnd() = default;

void WindowFrontEnd::startUp() {
    QMetaObject::invokeMethod(
        &m_core, [core = &m_core, screen = screenLayoutOf(m_window)] { core->startUp(screen); },
        Qt::QueuedConnection);
}

} // namespace ui
