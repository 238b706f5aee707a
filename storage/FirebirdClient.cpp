#include "storage/FirebirdClient.h"

#include "storage/FirebirdHandle.h"

#include <ibase.h>

namespace storage {

namespace {

// A confirmation callback may refuse a shutdown; the signal one is refused.
int refuseSignalShutdown(const int reason, const int, void*) {
    return reason == fb_shutrsn_signal ? 1 : 0;
}

} // namespace

void leaveTerminationSignalsToTheStation() {
    ISC_STATUS_ARRAY status{};
    fb_shutdown_callback(status, refuseSignalShutdown, fb_shut_confirmation, nullptr);
}

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
