#include "alerts/MessageEditor.h"

#include "alerts/MessageTemplate.h"
#include "alerts/SmtpServer.h"
#include "base/Clock.h"
#include "base/Error.h"

using namespace Qt::StringLiterals;

namespace alerts {

MessageEditor::MessageEditor(const base::Clock& clock, QLocale locale, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
    , m_locale(std::move(locale))
    , m_testRequest(builtInTestRequest())
    , m_outbox(this) {
    m_state.Memo1 = MessageTemplate::defaultText();
    connect(&m_outbox, &MailOutbox::finished, this, &MessageEditor::sendFinished);
    connect(&m_outbox, &MailOutbox::drained, this, &MessageEditor::drained);
    connect(&m_outbox, &MailOutbox::alertsDropped, this, &MessageEditor::alertsDropped);
}

void MessageEditor::setState(const EditorState& state) {
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT stateChanged(m_state);
}

void MessageEditor::setValues(QString aplicacion, QString estacion, QString usuario) {
    m_aplicacion = std::move(aplicacion);
    m_estacion = std::move(estacion);
    m_usuario = std::move(usuario);
}

void MessageEditor::loadTemplate(const QString& path) {
    EditorState next = m_state;
    next.Memo1 = MessageTemplate::readFile(path);
    setState(next);
}

MailRequest MessageEditor::builtInTestRequest() {
    MailRequest request;
    request.Texto_cuerpo = u"Texto_cuerpo"_s;
    request.From_text = u"OrvaneDB <estacion@localhost>"_s;
    request.To_text = u"prueba@localhost"_s;
    request.Replay_to = u"estacion@localhost"_s;
    request.Asunto = u"Test"_s;
    request.smpt_server_name = u"localhost"_s;
    request.smpt_server_port = u"25"_s;
    return request;
}

void MessageEditor::enviar_mensaje(const MailRequest& request, MailOutbox::Kind kind) {
    const QDateTime now = m_clock.now();
    const MessageTemplate::Values values{m_aplicacion, request.Texto_cuerpo, m_estacion, m_usuario,
                                         MessageTemplate::fechaText(now, m_locale)};
    const MailMessage message =
        MailMessage::compose(request, MessageTemplate::fill(m_state.Memo1, values),
                             {m_state.cboPriority, m_state.chkReturnReciept, m_state.edtBCC}, now);
    m_outbox.post(kind, SmtpServer::fromRequest(request), message);
}

void MessageEditor::testSend() {
    try {
        enviar_mensaje(m_testRequest, MailOutbox::Kind::Test);
    } catch (const std::exception& e) {
        Q_EMIT sendFinished(MailOutbox::Kind::Test, base::messageOf(e), {});
    }
}

} // namespace alerts
