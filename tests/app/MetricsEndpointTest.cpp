#include "app/MetricsEndpoint.h"

#include "tests/support/QtPrinters.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kWaitMs = 10000;

struct AddressCase {
    const char* name;
    QString text;
    bool valid;
    QHostAddress host;
    quint16 port;
};

class MetricsAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(MetricsAddressTest, Parses) {
    const AddressCase& c = GetParam();
    const std::optional<app::MetricsAddress> address = app::MetricsAddress::parse(c.text);
    ASSERT_EQ(address.has_value(), c.valid);
    if (c.valid) {
        EXPECT_EQ(address->host, c.host);
        EXPECT_EQ(address->port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MetricsAddressTest,
    ::testing::Values(AddressCase{"Loopback", u"127.0.0.1:9310"_s, true, QHostAddress::LocalHost, 9310},
                      AddressCase{"Any", u"0.0.0.0:9310"_s, true, QHostAddress(QHostAddress::AnyIPv4), 9310},
                      AddressCase{"Localhost", u"localhost:80"_s, true, QHostAddress::LocalHost, 80},
                      AddressCase{"Ipv6InBrackets", u"[::1]:9310"_s, true, QHostAddress::LocalHostIPv6, 9310},
                      AddressCase{"Ipv6WithoutBrackets", u"::1:9310"_s, false, {}, 0},
                      AddressCase{"NoPort", u"127.0.0.1"_s, false, {}, 0},
                      AddressCase{"PortTooBig", u"127.0.0.1:65536"_s, false, {}, 0},
                      AddressCase{"PortNotANumber", u"127.0.0.1:http"_s, false, {}, 0},
                      AddressCase{"HostName", u"monitor.example:9310"_s, false, {}, 0},
                      AddressCase{"NoHost", u":9310"_s, false, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// The endpoint and its clients share the test's thread, as the endpoint shares the core's: every
// wait below runs the event loop, so a client that blocked the endpoint would show as a timeout.
class MetricsEndpointTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_endpoint.listen({QHostAddress::LocalHost, 0})) << qPrintable(m_endpoint.errorString());
    }

    std::unique_ptr<QTcpSocket> connected() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, m_endpoint.port());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return socket->state() == QAbstractSocket::ConnectedState; }, kWaitMs));
        return socket;
    }

    // Sends `request` and collects everything until the endpoint closes the connection.
    QByteArray exchange(const QByteArray& request) {
        const auto socket = connected();
        socket->write(request);
        QByteArray response;
        const bool closed = QTest::qWaitFor(
            [&] {
                response += socket->readAll();
                return socket->state() == QAbstractSocket::UnconnectedState;
            },
            kWaitMs);
        EXPECT_TRUE(closed) << "the endpoint kept the connection open";
        return response + socket->readAll();
    }

    int m_scrapes = 0;
    app::MetricsEndpoint m_endpoint{
        [this] { return "orvanedb_scrapes " + QByteArray::number(++m_scrapes) + '\n'; }};
};

TEST_F(MetricsEndpointTest, AnswersAScrapeWithTheCurrentTextAndCloses) {
    const QByteArray first = exchange("GET /metrics HTTP/1.1\r\nHost: station\r\nAccept: */*\r\n\r\n");
    EXPECT_TRUE(first.startsWith("HTTP/1.1 200 OK\r\n")) << first.constData();
    EXPECT_TRUE(first.contains("Content-Type: text/plain; version=0.0.4")) << first.constData();
    EXPECT_TRUE(first.endsWith("\r\n\r\norvanedb_scrapes 1\n")) << first.constData();
    EXPECT_TRUE(first.contains("Content-Length: 19\r\n")) << first.constData();
    // A request split over several packets, with a query string.
    const auto socket = connected();
    socket->write("GET /metrics?x=1 HT");
    ASSERT_TRUE(QTest::qWaitFor([&] { return socket->bytesToWrite() == 0; }, kWaitMs));
    socket->write("TP/1.1\r\n\r\n");
    QByteArray second;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            second += socket->readAll();
            return socket->state() == QAbstractSocket::UnconnectedState;
        },
        kWaitMs));
    EXPECT_TRUE(second.endsWith("orvanedb_scrapes 2\n")) << second.constData();
}

TEST_F(MetricsEndpointTest, RefusesWhatIsNoScrape) {
    EXPECT_TRUE(exchange("POST /metrics HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 405 "));
    EXPECT_TRUE(exchange("GET /config HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 404 "));
    EXPECT_TRUE(exchange("GET /" + QByteArray(app::MetricsEndpoint::kMaxRequestHead + 1, 'a'))
                    .startsWith("HTTP/1.1 431 "));
    EXPECT_EQ(m_scrapes, 0);
}

TEST_F(MetricsEndpointTest, ASilentClientHoldsUpNeitherOtherScrapesNorItsOwnConnectionForever) {
    const auto silent = connected();
    EXPECT_TRUE(exchange("GET / HTTP/1.1\r\n\r\n").endsWith("orvanedb_scrapes 1\n"));
    // The silent one is cut off after the connection limit.
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent->state() == QAbstractSocket::UnconnectedState; },
                                int(app::MetricsEndpoint::kConnectionLimit.count()) + kWaitMs));
}

// Idle connections, however many are opened, give way to a scrape: the oldest one that has sent
// no request is closed to make room, at once, not after the connection limit.
TEST_F(MetricsEndpointTest, IdleConnectionsAtTheLimitGiveWayToAScrape) {
    std::vector<std::unique_ptr<QTcpSocket>> held;
    for (int i = 0; i < app::MetricsEndpoint::kMaxConnections; ++i)
        held.push_back(connected());
    QElapsedTimer took;
    took.start();
    for (int scrape = 0; scrape < 3; ++scrape)
        EXPECT_TRUE(exchange("GET / HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200 OK")) << scrape;
    EXPECT_LT(took.elapsed(), app::MetricsEndpoint::kConnectionLimit.count());
    // One had to give way; each scrape's own connection then freed its place for the next.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return held[0]->state() == QAbstractSocket::UnconnectedState; }, kWaitMs));
    for (std::size_t i = 1; i < held.size(); ++i)
        EXPECT_EQ(held[i]->state(), QAbstractSocket::ConnectedState) << i;
}

} // namespace
