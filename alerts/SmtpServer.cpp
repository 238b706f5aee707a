#include "alerts/SmtpServer.h"

#include "alerts/HeaderText.h"
#include "alerts/MailError.h"
#include "base/IntegerText.h"

using namespace Qt::StringLiterals;

namespace alerts {

SmtpServer SmtpServer::fromRequest(const MailRequest& request) {
    // The station's conversion error first, as for every other number typed in a setting.
    const qint64 port = base::toInteger(request.smpt_server_port);
    if (port < 1 || port > 65535)
        throw MailError(
            u"Correo no enviado: el puerto del servidor de correo debe estar entre 1 y 65535, no '%1'"_s.arg(
                request.smpt_server_port));
    const QString host = request.smpt_server_name.trimmed();
    if (host.isEmpty())
        throw MailError(u"Correo no enviado: falta el servidor de correo"_s);
    refuseLineBreaks(host, u"el servidor de correo");
    return {host, static_cast<quint16>(port), request.smptuser_name, request.smptpassword};
}

} // namespace alerts
