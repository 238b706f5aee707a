#include "storage/PaquetesTable.h"

#include "base/CodePage.h"
#include "storage/DatabaseName.h"
#include "storage/FirebirdHandle.h"
#include "storage/StatementExecutor.h"

#include <string.h>

namespace storage {

QStringList paquetesStatements() {
    QStringList statements;
    QString current;
    const QStringList lines = QString::fromUtf8(paquetesDdl()).split(u'\n');
    for (const QString& line : lines) {
        if (line.trimmed().startsWith(u"--"))
            continue;
        current += line + u'\n';
        if (line.trimmed().endsWith(u';')) {
            statements << current.trimmed().chopped(1);
            current.clear();
        }
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

void createDatabase(const QString& eddb, const DatabaseLogin& login) {
    const bool local = isLocalDatabase(eddb);
    const QByteArray name = base::codepage::narrow(local ? localDatabasePath(eddb) : eddb.trimmed());
    fb::Status st;
    fb::FbRef<Firebird::IProvider> provider(fb::master()->getDispatcher());
    fb::Dpb dpb(local, login);
    fb::FbRef<Firebird::IAttachment> attachment(
        provider->createDatabase(&st, name.constData(), dpb.length(), dpb.buffer()));
    fb::createPaquetesTable(attachment.get());
    attachment->detach(&st);
    attachment.forget();
}

namespace fb {

Dpb::Dpb(bool local, const DatabaseLogin& login) {
    Status st;
    m_builder = util()->getXpbBuilder(&st, Firebird::IXpbBuilder::DPB, nullptr, 0);
    try {
        m_builder->insertString(&st, isc_dpb_user_name, login.userBytes().c_str());
        m_builder->insertString(&st, isc_dpb_password, login.password());
        if (!login.role().empty())
            m_builder->insertString(&st, isc_dpb_sql_role_name, login.role().c_str());
        m_builder->insertInt(&st, isc_dpb_sql_dialect, StatementExecutor::kDialecto);
        m_builder->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
        if (local)
            m_builder->insertString(&st, isc_dpb_config, "Providers=Engine12");
        else
            m_builder->insertInt(&st, isc_dpb_connect_timeout, StatementExecutor::kConnectTimeoutSeconds);
    } catch (...) {
        m_builder->dispose();
        throw;
    }
}

Dpb::~Dpb() {
    // The builder's buffer holds the password: wiped before it goes back to the client library.
    try {
        Status st;
        if (const unsigned length = m_builder->getBufferLength(&st); length > 0)
            explicit_bzero(const_cast<unsigned char*>(m_builder->getBuffer(&st)), length);
    } catch (const FirebirdError&) {
    }
    m_builder->dispose();
}

const unsigned char* Dpb::buffer() {
    Status st;
    return m_builder->getBuffer(&st);
}

unsigned Dpb::length() {
    Status st;
    return m_builder->getBufferLength(&st);
}

void createPaquetesTable(Firebird::IAttachment* attachment) {
    Status st;
    FbRef<Firebird::ITransaction> transaction(attachment->startTransaction(&st, 0, nullptr));
    for (const QString& statement : paquetesStatements()) {
        const QByteArray sql = base::codepage::narrow(statement);
        attachment->execute(&st, transaction.get(), 0, sql.constData(), StatementExecutor::kDialecto, nullptr,
                            nullptr, nullptr, nullptr);
    }
    transaction->commit(&st);
    transaction.forget();
}

} // namespace fb

} // namespace storage
