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

using namespace Qt::StringLiterals;

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

    ui::TfrmMessageEditor editor{
        EditorState{alerts::MessageTemplate::defaultText(), MailPriority::High, false, {}}};
    QSignalSpy edited{&editor, &ui::TfrmMessageEditor::edited};
    QSignalSpy sendClicked{&editor, &ui::TfrmMessageEditor::sendClicked};
};

TEST_F(MessageEditorWindow, StartsWithTheTemplateAndHighPriority) {
    EXPECT_EQ(editor.windowTitle(), u"Message Editor"_s);
    EXPECT_EQ(child<QPlainTextEdit>("Memo1")->toPlainText(), alerts::MessageTemplate::defaultText());
    auto* priority = child<QComboBox>("cboPriority");
    ASSERT_EQ(priority->count(), 5);
    EXPECT_EQ(priority->currentText(), u"High"_s);
    EXPECT_EQ(child<QCheckBox>("chkReturnReciept")->text(), u"Return &Reciept"_s);
    EXPECT_FALSE(child<QCheckBox>("chkReturnReciept")->isChecked());
    EXPECT_EQ(child<QPushButton>("btnSend")->text(), u"Sen&d"_s);
}

TEST_F(MessageEditorWindow, SendHandsOverTheEditsThenTheTestSendAndCloses) {
    editor.open();
    ASSERT_TRUE(editor.isVisible());
    child<QPlainTextEdit>("Memo1")->setPlainText(u"<p>@GUIA</p>"_s);
    child<QComboBox>("cboPriority")->setCurrentIndex(static_cast<int>(MailPriority::Normal));
    child<QCheckBox>("chkReturnReciept")->click();
    QTest::keyClicks(child<QLineEdit>("edtBCC"), u"oculto@example.test"_s);

    QTest::mouseClick(child<QPushButton>("btnSend"), Qt::LeftButton);

    EXPECT_FALSE(editor.isVisible());
    ASSERT_EQ(edited.count(), 1);
    EXPECT_EQ(edited[0][0].value<EditorState>(),
              (EditorState{u"<p>@GUIA</p>"_s, MailPriority::Normal, true, u"oculto@example.test"_s}));
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
    editor.showState({u"cargada"_s, MailPriority::Highest, true, u"b@example.test"_s});
    EXPECT_EQ(editor.state(), (EditorState{u"cargada"_s, MailPriority::Highest, true, u"b@example.test"_s}));
}

} // namespace
