#include "ui/TfrmMessageEditor.h"

#include "alerts/MessageTemplate.h"
#include "tests/support/QtPrinters.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using alerts::EditorState;
using alerts::MailPriority;

class MessageEditorWindow : public ::testing::Test {
protected:
    template <typename T> T* child(const char* name) {
        T* const found = editor.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    ui::TfrmMessageEditor editor{EditorState{alerts::MessageTemplate::defaultText()}};
    QSignalSpy edited{&editor, &ui::TfrmMessageEditor::edited};
    QSignalSpy sendClicked{&editor, &ui::TfrmMessageEditor::sendClicked};
};

TEST_F(MessageEditorWindow, StartsWithTheTemplateAndHighPriority) {
    EXPECT_EQ(editor.windowTitle(), QStringLiteral("Message Editor"));
    EXPECT_EQ(child<QPlainTextEdit>("Memo1")->toPlainText(), alerts::MessageTemplate::defaultText());
    auto* priority = child<QComboBox>("cboPriority");
    ASSERT_EQ(priority->count(), 5);
    EXPECT_EQ(priority->currentText(), QStringLiteral("High"));
    EXPECT_EQ(child<QCheckBox>("chkReturnReciept")->text(), QStringLiteral("Return &Reciept"));
    EXPECT_FALSE(child<QCheckBox>("chkReturnReciept")->isChecked());
    EXPECT_EQ(child<QPushButton>("btnSend")->text(), QStringLiteral("Sen&d"));
}

TEST_F(MessageEditorWindow, SendHandsOverTheEditsThenTheTestSendAndCloses) {
    editor.open();
    ASSERT_TRUE(editor.isVisible());
    child<QPlainTextEdit>("Memo1")->setPlainText(QStringLiteral("<p>@GUIA</p>"));
    child<QComboBox>("cboPriority")->setCurrentIndex(static_cast<int>(MailPriority::Normal));
    child<QCheckBox>("chkReturnReciept")->click();
    QTest::keyClicks(child<QLineEdit>("edtBCC"), QStringLiteral("oculto@example.test"));

    QTest::mouseClick(child<QPushButton>("btnSend"), Qt::LeftButton);

    EXPECT_FALSE(editor.isVisible());
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited[0][0].value<EditorState>(),
              (EditorState{QStringLiteral("<p>@GUIA</p>"), MailPriority::Normal, true,
                           QStringLiteral("oculto@example.test")}));
    EXPECT_EQ(sendClicked.count(), 1);
}

TEST_F(MessageEditorWindow, ClosingWithoutSendKeepsTheEditsOnly) {
    editor.open();
    child<QComboBox>("cboPriority")->setCurrentIndex(static_cast<int>(MailPriority::Lowest));
    editor.reject();
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited[0][0].value<EditorState>().cboPriority, MailPriority::Lowest);
    EXPECT_EQ(sendClicked.count(), 0);
}

TEST_F(MessageEditorWindow, FollowsTheCoresState) {
    editor.showState(
        {QStringLiteral("cargada"), MailPriority::Highest, true, QStringLiteral("b@example.test")});
    EXPECT_EQ(editor.state(), (EditorState{QStringLiteral("cargada"), MailPriority::Highest, true,
                                           QStringLiteral("b@example.test")}));
}

} // namespace
