#include "storage/FirebirdClient.h"

#include <gtest/gtest.h>

namespace {

// The embedded engine keeps threads of its own; they are stopped before the process exits so that
// the leak check at exit does not walk threads the engine is still tearing down.
class FirebirdEnvironment final : public ::testing::Environment {
public:
    void TearDown() override { storage::shutdownFirebirdClient(); }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new FirebirdEnvironment);

} // namespace
