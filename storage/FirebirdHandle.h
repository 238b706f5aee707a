#pragma once

// The Firebird client's interfaces as the storage code holds them: every reference-counted
// interface owned by an FbRef that releases it on every path, and a status that turns an error
// into a FirebirdError as soon as a call reports it. Only the storage sources include this.

#include "storage/DatabaseLogin.h"
#include "storage/FirebirdError.h"

#include <firebird/Interface.h>

#include <utility>

namespace storage::fb {

inline Firebird::IMaster* master() {
    return Firebird::fb_get_master_interface();
}

inline Firebird::IUtil* util() {
    return master()->getUtilInterface();
}

// The client's own text for a status vector, and its codes.
FirebirdError errorFrom(Firebird::IStatus* status);

// Owns one reference to a Firebird interface. Calls that end an object on success (detach, commit,
// rollback, close, free) also release it: `forget()` drops the pointer after such a call.
template <typename T> class FbRef {
public:
    FbRef() = default;
    explicit FbRef(T* p)
        : m_p(p) {}
    ~FbRef() { reset(); }
    FbRef(const FbRef&) = delete;
    FbRef& operator=(const FbRef&) = delete;
    FbRef(FbRef&& other) noexcept
        : m_p(std::exchange(other.m_p, nullptr)) {}
    FbRef& operator=(FbRef&& other) noexcept {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    void reset(T* p = nullptr) {
        if (m_p)
            m_p->release();
        m_p = p;
    }
    void forget() { m_p = nullptr; }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

private:
    T* m_p = nullptr;
};

// A status of its own for each use; raises FirebirdError when a call fails.
class Status final : public Firebird::BaseStatusWrapper<Status> {
public:
    Status()
        : BaseStatusWrapper(master()->getStatus()) {}
    ~Status() { status->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    static void checkException(Status* s) {
        if (s->dirty && (s->getState() & Firebird::IStatus::STATE_ERRORS))
            throw errorFrom(s->status);
    }
};

} // namespace storage::fb

namespace storage::fb {

// The connection parameters every attach and create carries: the login (user, password and a role
// when it names one), dialect 3 and the code page the statements are narrowed to. A local file goes
// to the embedded engine only, never to a server that happens to run on this machine.
class Dpb {
public:
    Dpb(bool local, const DatabaseLogin& login);
    ~Dpb();
    Dpb(const Dpb&) = delete;
    Dpb& operator=(const Dpb&) = delete;

    const unsigned char* buffer();
    unsigned length();

private:
    Firebird::IXpbBuilder* m_builder = nullptr;
};

// Creates the table `paquetes` in a database just created, in a transaction of its own.
void createPaquetesTable(Firebird::IAttachment* attachment);

} // namespace storage::fb
