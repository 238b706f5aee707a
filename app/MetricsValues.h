#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace app {

// One reading of the station's counters, taken on the core's thread.
struct MetricsValues {
    quint64 linesReceived = 0;
    quint64 rowsStored = 0;
    quint64 rowsRefused = 0;
    qint64 rowsWaiting = 0;
    qint64 queueLength = 0;
    qint64 deviceConnections = 0;
    double qualityPercent = 100.0;
    quint64 readsGood = 0;
    quint64 readsBad = 0;
    quint64 alertsSent = 0;
    quint64 alertsFailed = 0;
    double secondsSinceLastRow = 0.0;
    bool databaseConnected = false;
};

// The Prometheus text exposition format (version 0.0.4) of one reading.
QByteArray prometheusText(const MetricsValues& values);

} // namespace app
