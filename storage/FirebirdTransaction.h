#pragma once

// Owners of a connection's attachment and transaction that end them the way the station closes its
// connection, on every path and without throwing: whatever the transaction holds is committed, a
// commit the server cannot take is rolled back, and a transaction or attachment the server can no
// longer end is let go. Only the storage sources include this.

#include "storage/FirebirdHandle.h"

#include <QtDebug>

namespace storage::fb {

class Transaction final {
public:
    Transaction() = default;
    explicit Transaction(Firebird::ITransaction* transaction)
        : m_transaction(transaction) {}
    ~Transaction() { end(); }
    Transaction(Transaction&&) noexcept = default;
    Transaction& operator=(Transaction&& other) noexcept {
        if (this != &other) {
            end();
            m_transaction = std::move(other.m_transaction);
        }
        return *this;
    }

    Firebird::ITransaction* get() const { return m_transaction.get(); }
    explicit operator bool() const { return static_cast<bool>(m_transaction); }

    // Raises FirebirdError and keeps the transaction when the server refuses.
    void commit() {
        Status st;
        m_transaction->commit(&st);
        m_transaction.forget();
    }

    void end() noexcept {
        if (!m_transaction)
            return;
        try {
            commit();
            return;
        } catch (const FirebirdError& e) {
            qWarning("Firebird: no se pudo confirmar la transacci\u00f3n al cerrar la conexi\u00f3n: %s",
                     qUtf8Printable(e.message()));
        }
        abandon();
    }

    // Rolls back what the transaction holds, or lets it go when the server can no longer be told:
    // for a connection already lost, whose rows go again anyway.
    void abandon() noexcept {
        if (!m_transaction)
            return;
        try {
            Status st;
            m_transaction->rollback(&st);
            m_transaction.forget();
        } catch (const FirebirdError&) {
            m_transaction.reset();
        }
    }

private:
    FbRef<Firebird::ITransaction> m_transaction;
};

class Attachment final {
public:
    Attachment() = default;
    explicit Attachment(Firebird::IAttachment* attachment)
        : m_attachment(attachment) {}
    ~Attachment() { detach(); }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    // Takes the attachment a create or an attach answered.
    void adopt(Firebird::IAttachment* attachment) {
        detach();
        m_attachment.reset(attachment);
    }

    Firebird::IAttachment* get() const { return m_attachment.get(); }
    Firebird::IAttachment* operator->() const { return m_attachment.get(); }

    // A database just created that cannot be completed is taken away again; false when even that
    // failed and only the handle was let go.
    bool drop() noexcept {
        try {
            Status st;
            m_attachment->dropDatabase(&st);
            m_attachment.forget();
            return true;
        } catch (const FirebirdError&) {
            m_attachment.reset();
            return false;
        }
    }

private:
    void detach() noexcept {
        if (!m_attachment)
            return;
        try {
            Status st;
            m_attachment->detach(&st);
            m_attachment.forget();
        } catch (const FirebirdError&) {
            m_attachment.reset();
        }
    }

    FbRef<Firebird::IAttachment> m_attachment;
};

} // namespace storage::fb
