#pragma once

#include "storage/PaquetesTable.h"
#include "tests/support/PrivateFirebirdServer.h"

#include <gtest/gtest.h>

#include <memory>

// One private Firebird server for a whole test suite, started by the first test that needs it
// (and again after a test killed it), with a database of its own for every test.
template <typename Base = ::testing::Test> class ServerSuite : public Base {
protected:
    static void SetUpTestSuite() { s_server = std::make_unique<PrivateFirebirdServer>(); }
    static void TearDownTestSuite() { s_server.reset(); }

    // Starts the server when it is not running and makes `stemN.fdb` on it with the table.
    static void startWithNewDatabase(const QString& stem, QString& eddb) {
        ASSERT_TRUE(s_server->start()) << qPrintable(s_server->error());
        static int n = 0;
        eddb = s_server->connectionString(stem + QString::number(++n) + QStringLiteral(".fdb"));
        ASSERT_NO_THROW(storage::createDatabase(eddb));
    }

    static inline std::unique_ptr<PrivateFirebirdServer> s_server;
};
