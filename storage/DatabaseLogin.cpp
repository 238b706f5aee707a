#include "storage/DatabaseLogin.h"

#include "base/Error.h"
#include "storage/FirebirdError.h"

#include <QFile>

#include <ibase.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace storage {

namespace {

// The login every station had built in; existing servers give it to their SYSDBA.
constexpr const char* kBuiltInUser = "SYSDBA";
constexpr const char* kBuiltInPassword = "mivoltakrune";

void wipeString(std::string& s) noexcept {
    // The whole buffer, not only the length in use: a shorter value may have replaced a longer one.
    explicit_bzero(s.data(), s.capacity());
    s.clear();
}

// Wipes what was read from the file on every way out.
class WipedOnExit final {
public:
    explicit WipedOnExit(std::string& s)
        : m_s(s) {}
    ~WipedOnExit() { wipeString(m_s); }
    WipedOnExit(const WipedOnExit&) = delete;
    WipedOnExit& operator=(const WipedOnExit&) = delete;

private:
    std::string& m_s;
};

class FileDescriptor final {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

QString openFailure(int error) {
    switch (error) {
    case ENOENT:
        return u"no existe"_s;
    case EACCES:
        return u"no se puede leer (sin permiso)"_s;
    default:
        return u"no se puede abrir (%1)"_s.arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

// The file's lines without their line ends; false when it has more than `lines.size()` lines with
// anything in them.
bool splitLines(const std::string& text, std::array<std::string_view, 3>& lines) {
    std::string_view rest(text);
    std::size_t n = 0;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (n < lines.size())
            lines[n++] = line;
        else if (!line.empty())
            return false;
    }
    return true;
}

} // namespace

DatabaseLogin::DatabaseLogin(std::string_view user, std::string_view password, std::string_view role)
    : m_user(user)
    , m_password(password)
    , m_role(role) {}

DatabaseLogin DatabaseLogin::builtIn() {
    return DatabaseLogin(kBuiltInUser, kBuiltInPassword, {});
}

DatabaseLogin& DatabaseLogin::operator=(const DatabaseLogin& other) {
    if (this != &other) {
        wipe();
        m_user = other.m_user;
        m_password = other.m_password;
        m_role = other.m_role;
    }
    return *this;
}

DatabaseLogin::DatabaseLogin(DatabaseLogin&& other) noexcept
    : m_user(std::move(other.m_user))
    , m_password(std::move(other.m_password))
    , m_role(std::move(other.m_role)) {
    // A short password moves by copy and stays behind in the other's own buffer.
    other.wipe();
}

DatabaseLogin& DatabaseLogin::operator=(DatabaseLogin&& other) noexcept {
    if (this != &other) {
        wipe();
        m_user = std::move(other.m_user);
        m_password = std::move(other.m_password);
        m_role = std::move(other.m_role);
        other.wipe();
    }
    return *this;
}

DatabaseLogin::~DatabaseLogin() {
    wipe();
}

void DatabaseLogin::wipe() noexcept {
    wipeString(m_password);
}

DatabaseLogin DatabaseLogin::fromFile(const QString& path) {
    const auto refused = [&path](const QString& why) {
        return base::Error(u"Archivo de credenciales de la base de datos \"%1\": %2"_s.arg(path, why));
    };
    // Never blocks: a named pipe in its place is refused below, not waited on.
    const FileDescriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throw refused(openFailure(errno));
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw refused(openFailure(errno));
    if (!S_ISREG(status.st_mode))
        throw refused(u"no es un archivo regular"_s);
    // The password is as safe as the file: one that others may read has already given it away.
    if (status.st_mode & (S_IRGRP | S_IROTH)) {
        throw refused(
            u"lo puede leer %1 (permisos %2); debe poder leerlo solo su due\u00f1o (chmod 600)"_s.arg(
                status.st_mode & S_IROTH ? u"cualquier usuario"_s : u"su grupo"_s,
                QString::number(status.st_mode & 07777, 8).rightJustified(4, u'0')));
    }
    const QString tooLarge = u"es demasiado grande (m\u00e1s de %1 bytes)"_s.arg(kLargestFile);
    if (status.st_size > kLargestFile)
        throw refused(tooLarge);

    std::string text;
    const WipedOnExit wiped(text);
    text.resize(std::size_t(kLargestFile) + 1);
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(file.get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw refused(u"no se puede leer (%1)"_s.arg(QString::fromLocal8Bit(std::strerror(errno))));
        if (n == 0)
            break;
        got += std::size_t(n);
    }
    if (got > std::size_t(kLargestFile))
        throw refused(tooLarge);
    text.resize(got);

    if (text.find_first_not_of("\r\n") == std::string::npos)
        throw refused(u"est\u00e1 vac\u00edo"_s);
    if (text.find('\0') != std::string::npos)
        throw refused(u"contiene un byte nulo"_s);
    std::array<std::string_view, 3> lines;
    if (!splitLines(text, lines))
        throw refused(u"tiene m\u00e1s de tres l\u00edneas (usuario, clave y rol)"_s);
    const auto [user, password, role] = lines;
    if (user.empty())
        throw refused(u"la primera l\u00ednea (el usuario) est\u00e1 vac\u00eda"_s);
    if (password.empty())
        throw refused(u"falta la clave en la segunda l\u00ednea"_s);
    if (qsizetype(user.size()) > kLongestName)
        throw refused(u"el usuario pasa de %1 bytes"_s.arg(kLongestName));
    if (qsizetype(password.size()) > kLongestPassword)
        throw refused(u"la clave pasa de %1 bytes"_s.arg(kLongestPassword));
    if (qsizetype(role.size()) > kLongestName)
        throw refused(u"el rol pasa de %1 bytes"_s.arg(kLongestName));
    return DatabaseLogin(user, password, role);
}

QString DatabaseLogin::refusedText(const QString& reason) const {
    return u"La base de datos no acept\u00f3 al usuario \"%1\": %2"_s.arg(user(), reason);
}

QString DatabaseLogin::notPermittedText(const QString& reason) const {
    const QString who = m_role.empty() ? u"\"%1\""_s.arg(user())
                                       : u"\"%1\" (rol %2)"_s.arg(user(), QString::fromUtf8(m_role));
    return u"El usuario %1 no tiene permiso en la base de datos: %2"_s.arg(who, reason);
}

bool DatabaseLogin::isLoginRefused(const FirebirdError& error) {
    for (const std::intptr_t code : {isc_login, isc_login_same_as_role_name, isc_long_login, isc_login_error,
                                     isc_auth_data, isc_auth_datalength}) {
        if (error.hasCode(code))
            return true;
    }
    return false;
}

bool DatabaseLogin::isNotPermitted(const FirebirdError& error) {
    return error.hasCode(isc_no_priv);
}

} // namespace storage
