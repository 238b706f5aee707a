#include "storage/FirebirdClient.h"

#include "storage/FirebirdHandle.h"

namespace storage {

void shutdownFirebirdClient() {
    try {
        fb::Status st;
        fb::FbRef<Firebird::IProvider> dispatcher(fb::master()->getDispatcher());
        dispatcher->shutdown(&st, 0, fb_shutrsn_app_stopped);
    } catch (const FirebirdError&) {
        // Nothing is left to do at this point if the client cannot stop cleanly.
    }
}

} // namespace storage
