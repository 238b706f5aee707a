#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <vector>

namespace bench {

// The value at fraction `p` (0 to 1) of the sorted values, nearest rank; 0 for none.
inline double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = std::size_t(p * double(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

// One scrape of a station's metrics endpoint; -1 where a value was not read.
struct MetricsSample {
    std::chrono::steady_clock::time_point at;
    double stored = -1;   // orvanedb_rows_stored_total: rows committed
    double received = -1; // orvanedb_lines_received_total
    double queue = -1;    // orvanedb_queue_length
};

// Over a blocking socket, so that a scraping thread needs no event loop. The endpoint closes the
// connection after its answer.
inline MetricsSample scrapeMetrics(quint16 port) {
    MetricsSample sample;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return sample;
    socket.write("GET /metrics HTTP/1.1\r\nHost: bench\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(2000))
        response += socket.readAll();
    response += socket.readAll();
    sample.at = std::chrono::steady_clock::now();
    const auto value = [](const QByteArray& line, QByteArrayView name, double& into) {
        if (line.startsWith(name) && line.size() > name.size() && line[name.size()] == ' ')
            into = line.mid(name.size() + 1).toDouble();
    };
    for (const QByteArray& line : response.split('\n')) {
        value(line, "orvanedb_rows_stored_total", sample.stored);
        value(line, "orvanedb_lines_received_total", sample.received);
        value(line, "orvanedb_queue_length", sample.queue);
    }
    return sample;
}

} // namespace bench
