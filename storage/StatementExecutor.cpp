#include "storage/StatementExecutor.h"

#include "base/CodePage.h"
#include "base/Error.h"
#include "storage/DatabaseName.h"
#include "storage/FirebirdHandle.h"
#include "storage/FirebirdTransaction.h"
#include "storage/PaquetesTable.h"

#include <QFile>
#include <QFileInfo>
#include <QtDebug>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace storage {

using namespace Firebird;

namespace {

constexpr unsigned kCharsetWin1252 = 53;
constexpr unsigned kLongestVarying = 32765;
constexpr std::size_t kMostPrepared = 32;

// Leading and trailing blanks and control characters off, a to z upper-cased, the first word
// compared: the way the station tells queries and modifications apart.
bool beginsWith(QStringView sql, QStringView word) {
    qsizetype from = 0;
    while (from < sql.size() && sql[from].unicode() <= 0x20)
        ++from;
    if (sql.size() - from < word.size())
        return false;
    for (qsizetype i = 0; i < word.size(); ++i) {
        char16_t c = sql[from + i].unicode();
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        if (c != word[i].unicode())
            return false;
    }
    return true;
}

enum class Kind : unsigned char { Null, Text, Number };

Kind kindOf(const StatementValue& v) {
    if (std::holds_alternative<QString>(v))
        return Kind::Text;
    if (std::holds_alternative<double>(v))
        return Kind::Number;
    return Kind::Null;
}

// The input message of a statement with parameters, rebuilt only when a value no longer fits.
struct InputMessage {
    fb::FbRef<IMessageMetadata> metadata;
    std::vector<Kind> kinds;
    std::vector<unsigned> capacity;
    std::vector<unsigned> offset;
    std::vector<unsigned> nullOffset;
    std::vector<unsigned char> buffer;
};

void freeStatement(fb::FbRef<IStatement>& statement) noexcept {
    if (!statement)
        return;
    try {
        fb::Status st;
        statement->free(&st);
        statement.forget();
    } catch (const FirebirdError&) {
        statement.reset();
    }
}

// A statement prepared once per statement text, with its input message; freed when it goes.
struct PreparedStatement {
    PreparedStatement() = default;
    ~PreparedStatement() { freeStatement(statement); }
    PreparedStatement(PreparedStatement&&) noexcept = default;
    PreparedStatement& operator=(PreparedStatement&&) = delete;

    fb::FbRef<IStatement> statement;
    InputMessage input;
};

// Fits the values into the statement's input message, as texts in the code page and as doubles.
void fill(InputMessage& in, const StatementValues& values) {
    std::vector<QByteArray> texts(static_cast<std::size_t>(values.size()));
    bool rebuild = !in.metadata || in.kinds.size() != static_cast<std::size_t>(values.size());
    for (qsizetype i = 0; i < values.size(); ++i) {
        const auto n = static_cast<std::size_t>(i);
        const Kind kind = kindOf(values[i]);
        if (kind == Kind::Text)
            texts[n] = base::codepage::narrow(std::get<QString>(values[i]))
                           .left(static_cast<qsizetype>(kLongestVarying));
        if (!rebuild && (in.kinds[n] != kind || static_cast<unsigned>(texts[n].size()) > in.capacity[n]))
            rebuild = true;
    }
    if (rebuild) {
        fb::Status st;
        const auto count = static_cast<unsigned>(values.size());
        fb::FbRef<IMetadataBuilder> builder(fb::master()->getMetadataBuilder(&st, count));
        in.kinds.assign(count, Kind::Null);
        in.capacity.assign(count, 0);
        for (unsigned i = 0; i < count; ++i) {
            in.kinds[i] = kindOf(values[static_cast<qsizetype>(i)]);
            if (in.kinds[i] == Kind::Number) {
                builder->setType(&st, i, SQL_DOUBLE + 1);
                builder->setLength(&st, i, sizeof(double));
            } else {
                const auto needed = static_cast<unsigned>(texts[i].size());
                in.capacity[i] = std::min(kLongestVarying, std::max(32u, needed * 2));
                builder->setType(&st, i, SQL_VARYING + 1);
                builder->setLength(&st, i, in.capacity[i]);
                builder->setCharSet(&st, i, kCharsetWin1252);
            }
        }
        in.metadata.reset(builder->getMetadata(&st));
        in.offset.resize(count);
        in.nullOffset.resize(count);
        for (unsigned i = 0; i < count; ++i) {
            in.offset[i] = in.metadata->getOffset(&st, i);
            in.nullOffset[i] = in.metadata->getNullOffset(&st, i);
        }
        in.buffer.assign(in.metadata->getMessageLength(&st), 0);
    }
    unsigned char* const buffer = in.buffer.data();
    for (std::size_t i = 0; i < in.kinds.size(); ++i) {
        const qint16 isNull = in.kinds[i] == Kind::Null ? -1 : 0;
        std::memcpy(buffer + in.nullOffset[i], &isNull, sizeof isNull);
        if (in.kinds[i] == Kind::Number) {
            const double d = std::get<double>(values[static_cast<qsizetype>(i)]);
            std::memcpy(buffer + in.offset[i], &d, sizeof d);
        } else if (in.kinds[i] == Kind::Text) {
            const auto length = static_cast<quint16>(texts[i].size());
            std::memcpy(buffer + in.offset[i], &length, sizeof length);
            std::memcpy(buffer + in.offset[i] + sizeof length, texts[i].constData(), length);
        }
    }
}

// Opens the query, fetches to its last row and answers the first column of that row as text
// (empty for NULL), or nothing when there were no rows.
std::optional<QString> lastRowFirstColumn(IStatement* statement, ITransaction* transaction,
                                          IMessageMetadata* inMetadata, void* inBuffer) {
    fb::Status st;
    fb::FbRef<IMessageMetadata> described(statement->getOutputMetadata(&st));
    if (described->getCount(&st) == 0) {
        statement->execute(&st, transaction, inMetadata, inBuffer, nullptr, nullptr);
        return std::nullopt;
    }
    // The first column arrives as text whatever its type: the server converts it.
    fb::FbRef<IMetadataBuilder> builder(described->getBuilder(&st));
    const unsigned length = std::clamp(described->getLength(&st, 0), 64u, kLongestVarying);
    builder->setType(&st, 0, SQL_VARYING + 1);
    builder->setScale(&st, 0, 0);
    builder->setLength(&st, 0, length);
    fb::FbRef<IMessageMetadata> wanted(builder->getMetadata(&st));
    const unsigned offset = wanted->getOffset(&st, 0);
    const unsigned nullOffset = wanted->getNullOffset(&st, 0);
    std::vector<unsigned char> row(wanted->getMessageLength(&st));

    fb::FbRef<IResultSet> cursor(
        statement->openCursor(&st, transaction, inMetadata, inBuffer, wanted.get(), 0));
    bool fetched = false;
    QByteArray first;
    bool firstIsNull = false;
    while (cursor->fetchNext(&st, row.data()) == IStatus::RESULT_OK) {
        fetched = true;
        qint16 isNull = 0;
        std::memcpy(&isNull, row.data() + nullOffset, sizeof isNull);
        firstIsNull = isNull != 0;
        if (!firstIsNull) {
            quint16 size = 0;
            std::memcpy(&size, row.data() + offset, sizeof size);
            first = QByteArray(reinterpret_cast<const char*>(row.data() + offset + sizeof size), size);
        }
    }
    cursor->close(&st);
    cursor.forget();
    if (!fetched)
        return std::nullopt;
    return firstIsNull ? QString() : base::codepage::widen(first);
}

// Which file a path names now: device and inode, none when there is no such file.
std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return std::pair(st.st_dev, st.st_ino);
}

// The file of an embedded database, as it was when it was opened.
struct LocalFile {
    QString path;
    std::optional<std::pair<dev_t, ino_t>> identity;
};

// One answer of the database's own catalogue, in a transaction of its own.
bool catalogueHas(IAttachment* attachment, const char* query) {
    fb::Status st;
    fb::Transaction transaction(attachment->startTransaction(&st, 0, nullptr));
    fb::FbRef<IStatement> statement(attachment->prepare(&st, transaction.get(), 0, query,
                                                        StatementExecutor::kDialecto,
                                                        IStatement::PREPARE_PREFETCH_METADATA));
    const std::optional<QString> count =
        lastRowFirstColumn(statement.get(), transaction.get(), nullptr, nullptr);
    freeStatement(statement);
    return count && count->toLongLong() > 0;
}

void runOnItsOwn(IAttachment* attachment, const char* sql) {
    fb::Status st;
    fb::Transaction transaction(attachment->startTransaction(&st, 0, nullptr));
    attachment->execute(&st, transaction.get(), 0, sql, StatementExecutor::kDialecto, nullptr, nullptr,
                        nullptr, nullptr);
    transaction.commit();
}

// Gives a table made before `id_lectura` existed the column and its unique index. Several stations
// of a hub may try at once: whatever one of them failed at is looked up again before it counts.
void addReadingIdentity(IAttachment* attachment) {
    static constexpr const char* kHasColumn =
        "select count(*) from rdb$relation_fields where rdb$relation_name = 'PAQUETES' and "
        "rdb$field_name = 'ID_LECTURA'";
    static constexpr const char* kHasIndex =
        "select count(*) from rdb$indices where rdb$index_name = 'PAQUETES_LECTURA'";
    const auto ensure = [attachment](const char* lookup, const char* ddl) {
        if (catalogueHas(attachment, lookup))
            return;
        try {
            runOnItsOwn(attachment, ddl);
        } catch (const FirebirdError&) {
            if (!catalogueHas(attachment, lookup))
                throw;
        }
    };
    ensure(kHasColumn, "alter table paquetes add id_lectura varchar(40) character set ascii");
    ensure(kHasIndex, "create unique index paquetes_lectura on paquetes (id_lectura)");
}

// A new local database is made under a name of its own and renamed into place once it is complete:
// a station killed halfway leaves no file that looks like its database and cannot be opened.
void createLocalDatabase(IProvider* provider, const QString& path, fb::Dpb& dpb) {
    const QString building = path + u".nueva"_s;
    QFile::remove(building);
    const QByteArray name = base::codepage::narrow(building);
    {
        fb::Status st;
        fb::Attachment attachment;
        attachment.adopt(provider->createDatabase(&st, name.constData(), dpb.length(), dpb.buffer()));
        try {
            fb::createPaquetesTable(attachment.get());
        } catch (const FirebirdError&) {
            if (!attachment.drop())
                QFile::remove(building);
            throw;
        }
    }
    if (!QFile::rename(building, path)) {
        QFile::remove(building);
        throw FirebirdError(u"No se pudo poner la base de datos nueva en \"%1\""_s.arg(path), {});
    }
}

} // namespace

// `DBD` with its transaction `TR`. Its members are declared in the order they are set up, so that
// leaving it frees the statements, then commits (or abandons) the transaction, then detaches.
struct StatementExecutor::Connection {
    std::optional<LocalFile> localFile;
    fb::FbRef<IProvider> provider;
    fb::Attachment attachment;
    fb::Transaction transaction;
    std::map<QByteArray, PreparedStatement> statements;

    PreparedStatement& prepare(const QByteArray& sql) {
        if (const auto found = statements.find(sql); found != statements.end())
            return found->second;
        if (statements.size() >= kMostPrepared)
            statements.clear();
        fb::Status st;
        PreparedStatement prepared;
        prepared.statement.reset(attachment->prepare(&st, transaction.get(), 0, sql.constData(),
                                                     StatementExecutor::kDialecto,
                                                     IStatement::PREPARE_PREFETCH_METADATA));
        return statements.emplace(sql, std::move(prepared)).first->second;
    }

    void startTransaction() {
        fb::Status st;
        transaction = fb::Transaction(attachment->startTransaction(&st, 0, nullptr));
    }
};

StatementExecutor::StatementExecutor()
    : m_stopwatch(m_ownStopwatch) {}

StatementExecutor::StatementExecutor(base::Stopwatch& stopwatch)
    : m_stopwatch(stopwatch) {}

StatementExecutor::~StatementExecutor() {
    release();
}

void StatementExecutor::reconnect(const QString& eddb) {
    cerrar();
    m_databaseName = eddb;
}

bool StatementExecutor::isOpen() const {
    return m_db != nullptr;
}

bool StatementExecutor::isActive() const {
    return m_db && m_db->transaction;
}

void StatementExecutor::commit() {
    if (!isActive())
        return;
    try {
        m_db->transaction.commit();
    } catch (const FirebirdError& e) {
        // A commit that cannot reach the server leaves nothing worth keeping open: the next
        // statement connects again instead of failing on a dead attachment forever.
        if (e.isLostConnection())
            cerrar();
        throw;
    }
    // The embedded engine goes on writing into a local file that was deleted or replaced under
    // it, and every row would vanish with it: leave it, so that the next statement opens (or
    // creates) the file that is there now, and say so.
    if (m_db->localFile && fileIdentity(m_db->localFile->path) != m_db->localFile->identity) {
        const QString path = m_db->localFile->path;
        cerrar();
        throw base::Error(
            u"El archivo de la base de datos \"%1\" desapareci\u00f3 o fue reemplazado mientras "
            u"estaba abierto; la pr\u00f3xima fila abre el que haya ahora o lo crea."_s.arg(path));
    }
}

void StatementExecutor::cerrar() {
    m_db.reset();
}

void StatementExecutor::abandon() {
    if (m_db)
        m_db->transaction.abandon();
    m_db.reset();
}

// The private layer below raises FirebirdError for every failure; the station's operations above
// turn it into their results, each in one place.

void StatementExecutor::attach() {
    m_identityRefused.clear();
    auto db = std::make_unique<Connection>();
    fb::Status st;
    db->provider.reset(fb::master()->getDispatcher());
    const bool local = isLocalDatabase(m_databaseName);
    const QString path = local ? localDatabasePath(m_databaseName) : m_databaseName.trimmed();
    const QByteArray name = base::codepage::narrow(path);
    fb::Dpb dpb(local, m_login);
    if (local && !QFileInfo::exists(path)) {
        createLocalDatabase(db->provider.get(), path, dpb);
        m_created = QFileInfo(path).absoluteFilePath();
    }
    try {
        db->attachment.adopt(db->provider->attachDatabase(&st, name.constData(), dpb.length(), dpb.buffer()));
    } catch (const FirebirdError& e) {
        // A refused login is the administrator's to fix, not the network's: say whose it was.
        if (DatabaseLogin::isLoginRefused(e))
            throw FirebirdError(m_login.refusedText(e.message()), e.codes());
        throw;
    }
    // A database made before rows carried their reading's identity still takes rows without it.
    try {
        addReadingIdentity(db->attachment.get());
    } catch (const FirebirdError& e) {
        // A database that cannot write at all (a full disk) is not one that refuses the column.
        if (e.leavesRowsWaiting())
            throw;
        m_identityRefused = e.message();
    }
    db->startTransaction();
    if (local)
        db->localFile = LocalFile{path, fileIdentity(path)};
    m_db = std::move(db);
}

void StatementExecutor::ensureTransaction() {
    if (!m_db) {
        attach();
        return;
    }
    if (m_db->transaction)
        return;
    try {
        m_db->startTransaction();
    } catch (const FirebirdError& e) {
        // The server went away since the last commit: connect again rather than fail on every
        // statement from now on. Any other refusal is the caller's to report.
        if (!e.isLostConnection())
            throw;
        cerrar();
        attach();
    }
}

void StatementExecutor::run(const QByteArray& narrowed, const StatementValues* values) {
    const bool query = beginsWith(m_sqlActual, u"SELECT");
    fb::Status st;
    ITransaction* const transaction = m_db->transaction.get();
    if (values) {
        PreparedStatement& prepared = m_db->prepare(narrowed);
        fill(prepared.input, *values);
        IMessageMetadata* const in = prepared.input.metadata.get();
        void* const buffer = prepared.input.buffer.data();
        if (query)
            m_filaActual = lastRowFirstColumn(prepared.statement.get(), transaction, in, buffer);
        else
            prepared.statement->execute(&st, transaction, in, buffer, nullptr, nullptr);
        return;
    }
    // Literal text from other callers keeps the station's old habit of writing string literals
    // with double quotes.
    QByteArray text = narrowed;
    text.replace('"', '\'');
    if (query) {
        fb::FbRef<IStatement> statement(m_db->attachment->prepare(
            &st, transaction, 0, text.constData(), kDialecto, IStatement::PREPARE_PREFETCH_METADATA));
        m_filaActual = lastRowFirstColumn(statement.get(), transaction, nullptr, nullptr);
        freeStatement(statement);
    } else {
        m_db->attachment->execute(&st, transaction, 0, text.constData(), kDialecto, nullptr, nullptr, nullptr,
                                  nullptr);
    }
}

bool StatementExecutor::Abrir_BD() {
    if (m_db)
        return true;
    try {
        attach();
        return true;
    } catch (const FirebirdError& e) {
        // A failed connect is no statement's error: `ultimo_error` stays as it was.
        m_connectError = e.message();
        return false;
    }
}

bool StatementExecutor::Iniciar_T() {
    if (isActive())
        return true;
    // A failed connect, or a database that cannot start the transaction (its disk is full), is a
    // false result; any other refusal to start the transaction on an open connection goes to the
    // caller as it is.
    try {
        ensureTransaction();
        return true;
    } catch (const FirebirdError& e) {
        if (m_db && !e.leavesRowsWaiting())
            throw;
        m_connectError = e.message();
        cerrar();
        return false;
    }
}

bool StatementExecutor::es_modificacion() const {
    return beginsWith(m_sqlActual, u"UPDATE") || beginsWith(m_sqlActual, u"DELETE") ||
           beginsWith(m_sqlActual, u"INSERT");
}

bool StatementExecutor::Ejecutar_query(const QByteArray& narrowed) {
    return execute(narrowed, base::codepage::widen(narrowed), nullptr);
}

bool StatementExecutor::Ejecutar_query(const QByteArray& narrowed, const StatementValues& values) {
    return execute(narrowed, base::codepage::widen(narrowed), &values);
}

bool StatementExecutor::execute(const QByteArray& narrowed, const QString& sql,
                                const StatementValues* values) {
    m_sqlActual = sql;
    m_filaActual.reset();
    m_failureWaits = false;
    if (!Iniciar_T()) {
        m_failureWaits = true;
        return false;
    }
    try {
        run(narrowed, values);
        return true;
    } catch (const FirebirdError& e) {
        m_ultimoError = e.message();
        m_failureWaits = e.leavesRowsWaiting();
        // A lost server is recognised by its status, whatever the words; the old wording test
        // stays for messages that carry it.
        if (e.isLostConnection() || e.message().contains(u"Unable to complete", Qt::CaseInsensitive))
            cerrar();
        // A login without the privilege fails every row alike, through no fault of the rows: the
        // connection goes uncommitted, as a lost one does, and the rows wait until an administrator
        // grants it.
        if (DatabaseLogin::isNotPermitted(e)) {
            m_ultimoError = m_login.notPermittedText(e.message());
            abandon();
        }
        return false;
    }
}

bool StatementExecutor::consultar(const QString& sql) {
    return timed(sql, nullptr);
}

bool StatementExecutor::consultar(const QString& sql, const StatementValues& values) {
    return timed(sql, &values);
}

bool StatementExecutor::timed(const QString& sql, const StatementValues* values) {
    m_sqlActual = sql;
    m_failedToConnect = false;
    if (!Iniciar_T()) {
        m_failedToConnect = true;
        return false;
    }
    m_stopwatch.restart();
    m_ultimoResultado.clear();
    if (m_lastSql != sql) {
        m_lastSql = sql;
        m_lastNarrowed = base::codepage::narrow(sql);
        m_lastReadBack = base::codepage::widen(m_lastNarrowed);
    }
    const bool ok = execute(m_lastNarrowed, m_lastReadBack, values);
    if (ok && !es_modificacion() && m_filaActual)
        m_ultimoResultado = *m_filaActual;
    const auto d = static_cast<double>(m_stopwatch.elapsedMs());
    m_tiempoPromedio = m_tiempoPromedio == 0.0 ? d : (d + m_tiempoPromedio) / 2.0;
    return ok;
}

} // namespace storage
