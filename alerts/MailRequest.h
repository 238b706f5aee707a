#pragma once

#include <QString>

namespace alerts {

// The arguments of `enviar_mensaje`, in their order. Every one is text, the port too: it is
// converted when the mail is composed.
struct MailRequest {
    QString Texto_cuerpo;
    QString From_text;
    QString To_text;
    QString Replay_to;
    QString Asunto;
    QString CC;
    QString smptuser_name;
    QString smptpassword;
    QString smpt_server_name;
    QString smpt_server_port;
};

} // namespace alerts
