#pragma once

#include "base/Clock.h"
#include "config/SerialPortSettings.h"
#include "config/SettingId.h"
#include "station/PanelIds.h"
#include "ui/StationModels.h"

#include <QMainWindow>
#include <QTimer>
#include <QVariant>

#include <array>
#include <optional>

class QLabel;
class QListView;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;

namespace ui {

class ErrorBox;
class Lamp;
class QualityTab;
class QueueListModel;
class TextListModel;

// The station's main window. It shows the live panel, the settings, the intake queue and the raw
// logs by following their notifications, and hands the operator's commands and edits out as
// signals, which the front end posts to the core's thread. It never calls into the core: the core
// may be busy on the database for seconds, and the window must not wait for it.
//
// Notifications can arrive by the thousand per second. They only note what changed; the window
// puts the changes on screen at most once per frame (`kFrameMs`), the last text of a field winning.
class TVuruvov final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TVuruvov)

public:
    static constexpr int kFrameMs = 16;
    // The hidden "Email" button can still be reached from the keyboard: it opens the message
    // editor.
    static constexpr QKeyCombination kEmailShortcut{Qt::CTRL | Qt::SHIFT, Qt::Key_E};
    static constexpr int kClientWidth = 773;
    static constexpr int kClientHeight = 491;
    // Opens the serial port dialog from the "Configuración" tab, whose button `Br` stays hidden.
    static constexpr QKeyCombination kPortDialogKey{Qt::CTRL | Qt::Key_P};

    // Reads the models' present state: call it while they are still on this thread.
    explicit TVuruvov(const StationModels& models, QWidget* parent = nullptr);
    ~TVuruvov() override;

    // Shows an error in the general error report's box.
    void showError(const QString& message);

    // How the last alert mail went: kept as the status bar's hint, where the operator can look it
    // up without being interrupted.
    // Rows waiting for the database, on the status bar while there are any; empty hides it.
    void showDatabaseBacklog(const QString& text);
    void showAlertOutcome(const QString& text);

    QualityTab& qualityTab() { return *m_qualityTab; }

    // Frames in which noted changes were put on screen (for the benchmark).
    int framesApplied() const { return m_framesApplied; }

    // The serial port dialog, opened over the window; when it closes, the selection goes out
    // with `serialPortChosen`.
    void BrClick();

public Q_SLOTS:
    // The core ran its close handler to the end: the window closes now.
    void stationClosed();
    // The close handler stopped on an error: the window stays open and shows why.
    void stationCloseFailed(const QString& message);
    // The serial port settings as the core has them now.
    void showSerialPort(const config::SerialPortSettings& settings);

Q_SIGNALS:
    void iniciarClicked();
    void pararClicked();
    void guardarLogClicked();
    void resetClicked();
    void emailClicked();
    void conectarClicked();
    void settingEdited(config::SettingId id, const QVariant& value);
    void serialPortChosen(const config::SerialPortSettings& settings);
    // The operator asked to close; the window stays until `stationClosed`.
    void closeRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildOperacion(const StationModels& models);
    QWidget* buildConfiguracion(const config::Settings& settings);
    QWidget* buildAcercaDe();
    QWidget* buildLogEthernet(const StationModels& models);
    QWidget* buildLogRs232(const StationModels& models);
    void buildStatusBar(const station::LivePanel& panel);
    void connectModels(const StationModels& models);
    // A field's new text, kept for the next repaint; the quality tab follows the counters at once.
    void showField(station::Field field, const QString& text);

    QWidget* makeSettingEditor(const config::SettingDefinition& definition, const QVariant& value,
                               QWidget* parent);
    void postSetting(config::SettingId id, const QVariant& value);
    void settingChanged(config::SettingId id, const QVariant& value);
    void showSetting(config::SettingId id, const QVariant& value);

    void noteChange();
    void applyFrame();

    QTabWidget* m_tabs = nullptr;
    QLabel* m_backlog = nullptr;
    std::array<QLabel*, station::kFieldCount> m_fields{};
    QPlainTextEdit* m_fallas = nullptr;
    std::array<Lamp*, station::kLightCount> m_lamps{};
    std::array<QLabel*, station::kStatusPanelCount> m_statusPanels{};
    std::array<QWidget*, config::kSettingCount> m_editors{};
    // Edits posted to the core whose echo has not come back yet: the echo of an older keystroke
    // must not overwrite what the operator has typed since.
    std::array<int, config::kSettingCount> m_editsInFlight{};
    bool m_showingSetting = false;

    QueueListModel* m_queueModel = nullptr;
    TextListModel* m_logEthernetModel = nullptr;
    TextListModel* m_logRS232Model = nullptr;
    ErrorBox* m_errorBox = nullptr;
    config::SerialPortSettings m_serialPort;
    base::SystemClock m_clock;
    QualityTab* m_qualityTab = nullptr;
    // The processed count last seen, so that the trend counts rows even when notes coalesce.
    qint64 m_processedSeen = 0;

    QTimer m_frame;
    std::array<std::optional<QString>, station::kFieldCount> m_pendingTexts;
    std::array<std::optional<bool>, station::kLightCount> m_pendingLights;
    std::array<std::optional<QString>, station::kStatusPanelCount> m_pendingStatus;
    int m_framesApplied = 0;

    bool m_closeRequested = false;
    bool m_closeGranted = false;
};

} // namespace ui
