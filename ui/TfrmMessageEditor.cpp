#include "ui/TfrmMessageEditor.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace ui {

TfrmMessageEditor::TfrmMessageEditor(const alerts::EditorState& state, QWidget* parent)
    : QDialog(parent) {
    setObjectName(u"frmMessageEditor"_s);
    setWindowTitle(u"Message Editor"_s);
    setModal(true);

    m_memo = new QPlainTextEdit(this);
    m_memo->setObjectName(u"Memo1"_s);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->setTabStopDistance(m_memo->fontMetrics().horizontalAdvance(u' ') * 4);

    m_priority = new QComboBox(this);
    m_priority->setObjectName(u"cboPriority"_s);
    for (const char16_t* name : alerts::kPriorityNames)
        m_priority->addItem(QString::fromUtf16(name));

    m_receipt = new QCheckBox(u"Return &Reciept"_s, this);
    m_receipt->setObjectName(u"chkReturnReciept"_s);

    m_bcc = new QLineEdit(this);
    m_bcc->setObjectName(u"edtBCC"_s);

    auto* send = new QPushButton(u"Sen&d"_s, this);
    send->setObjectName(u"btnSend"_s);
    connect(send, &QPushButton::clicked, this, [this] {
        m_sendRequested = true;
        accept();
    });

    auto* options = new QFormLayout;
    options->addRow(u"Priority:"_s, m_priority);
    options->addRow(QString(), m_receipt);
    options->addRow(u"BCC:"_s, m_bcc);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(send);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_memo, 1);
    layout->addLayout(options);
    layout->addLayout(buttons);
    resize(640, 520);

    showState(state);
}

TfrmMessageEditor::~TfrmMessageEditor() = default;

alerts::EditorState TfrmMessageEditor::state() const {
    return {m_memo->toPlainText(), static_cast<alerts::MailPriority>(m_priority->currentIndex()),
            m_receipt->isChecked(), m_bcc->text()};
}

void TfrmMessageEditor::showState(const alerts::EditorState& state) {
    // Text that did not change is left alone, so that the cursor stays where the operator is.
    if (m_memo->toPlainText() != state.Memo1)
        m_memo->setPlainText(state.Memo1);
    m_priority->setCurrentIndex(static_cast<int>(state.cboPriority));
    m_receipt->setChecked(state.chkReturnReciept);
    if (m_bcc->text() != state.edtBCC)
        m_bcc->setText(state.edtBCC);
}

void TfrmMessageEditor::done(int result) {
    Q_EMIT edited(state());
    if (std::exchange(m_sendRequested, false))
        Q_EMIT sendClicked();
    QDialog::done(result);
}

} // namespace ui
