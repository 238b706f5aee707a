#pragma once

#include "alerts/MailRequest.h"

#include <QString>

namespace alerts {

// Where and as whom a mail is sent.
struct SmtpServer {
    QString host;
    quint16 port = 25;
    QString user; // empty: no authentication
    QString password;

    // From the mail's settings. A port that is not a whole number from 1 to 65535 and an empty
    // host name fail here, before any connection is tried.
    static SmtpServer fromRequest(const MailRequest& request);
};

} // namespace alerts
