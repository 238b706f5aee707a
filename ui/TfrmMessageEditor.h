#pragma once

#include "alerts/MessageEditor.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace ui {

// "Message Editor": the alert mail's template, priority, read receipt and blind copies, and the
// test send. It shows a copy of the core's editor state and follows it (a template file loaded at an
// alert lands here too); what the operator changes goes back to the core when the window closes.
// "Sen&d" hands the edits and the test send to the core and closes the window; the outcome comes
// back later, through the front end, without anyone waiting for the mail server.
class TfrmMessageEditor final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmMessageEditor)

public:
    explicit TfrmMessageEditor(const alerts::EditorState& state, QWidget* parent = nullptr);
    ~TfrmMessageEditor() override;

    alerts::EditorState state() const;

    void done(int result) override;

public Q_SLOTS:
    // The core's state changed (a template file was loaded at an alert).
    void showState(const alerts::EditorState& state);

Q_SIGNALS:
    // The window closed; its fields as the operator left them.
    void edited(const alerts::EditorState& state);
    // "Sen&d" was pressed; comes right after `edited`.
    void sendClicked();

private:
    QPlainTextEdit* m_memo = nullptr;
    QComboBox* m_priority = nullptr;
    QCheckBox* m_receipt = nullptr;
    QLineEdit* m_bcc = nullptr;
    bool m_sendRequested = false;
};

} // namespace ui
