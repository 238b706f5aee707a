#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace storage {

class FirebirdError;

// Who the station logs in to its database as: a user, a password and, where the server wants one
// named, a role. The built-in login is the one every station had before stations got logins of
// their own, and servers set up for it still expect it. The password leaves this object only
// towards an attach; it is wiped from memory with every copy that held it.
class DatabaseLogin final {
public:
    // Firebird 3 keeps names of at most 31 bytes, and one item of the connection parameters carries
    // at most 255.
    static constexpr qsizetype kLongestName = 31;
    static constexpr qsizetype kLongestPassword = 255;
    // A credentials file is three short lines: anything larger is not one.
    static constexpr qsizetype kLargestFile = 4096;

    static DatabaseLogin builtIn();
    // The user from the file's first line, the password from its second and a role from an
    // optional third. A file that its group or other users may read, or that cannot be one (missing,
    // unreadable, empty, too large, a line missing or too long), raises base::Error naming the file;
    // the password is never part of the message.
    static DatabaseLogin fromFile(const QString& path);

    DatabaseLogin(const DatabaseLogin& other) = default;
    DatabaseLogin& operator=(const DatabaseLogin& other);
    DatabaseLogin(DatabaseLogin&& other) noexcept;
    DatabaseLogin& operator=(DatabaseLogin&& other) noexcept;
    ~DatabaseLogin();

    QString user() const { return QString::fromUtf8(m_user); }
    const std::string& userBytes() const { return m_user; }
    const std::string& role() const { return m_role; }
    // For the connection parameters only.
    const char* password() const { return m_password.c_str(); }

    // The operator's text for an attach the server refused for this login: who was refused and
    // the server's own reason. Nothing else of the failure is shown.
    QString refusedText(const QString& reason) const;
    // The same for a statement the login has no privilege for.
    QString notPermittedText(const QString& reason) const;

    // The server refused the login itself (a wrong password, an unknown or inactive user).
    static bool isLoginRefused(const FirebirdError& error);
    // The login works but may not do what it was asked (no privilege on the table).
    static bool isNotPermitted(const FirebirdError& error);

private:
    // Copied straight into the members: no temporary keeps a copy of the password.
    DatabaseLogin(std::string_view user, std::string_view password, std::string_view role);
    void wipe() noexcept;

    std::string m_user;
    std::string m_password;
    std::string m_role;
};

} // namespace storage
