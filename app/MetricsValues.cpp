#include "app/MetricsValues.h"

#include <cmath>

namespace app {

namespace {

QByteArray number(double value) {
    if (std::isnan(value))
        return "NaN";
    return QByteArray::number(value, 'g', 15);
}

struct Metric {
    const char* name;
    const char* type;
    const char* help;
    QByteArray value;
};

} // namespace

QByteArray prometheusText(const MetricsValues& v) {
    const Metric metrics[] = {
        {"orvanedb_lines_received_total", "counter", "Lines received from the devices into the queue.",
         QByteArray::number(v.linesReceived)},
        {"orvanedb_rows_stored_total", "counter", "Rows the database accepted into paquetes.",
         QByteArray::number(v.rowsStored)},
        {"orvanedb_rows_refused_total", "counter",
         "Rows the database refused, each left in a Query-fallido dump file.",
         QByteArray::number(v.rowsRefused)},
        {"orvanedb_rows_waiting", "gauge", "Rows waiting for the database to take them.",
         QByteArray::number(v.rowsWaiting)},
        {"orvanedb_queue_length", "gauge", "Received lines not yet processed.",
         QByteArray::number(v.queueLength)},
        {"orvanedb_device_connections", "gauge", "Open device connections.",
         QByteArray::number(v.deviceConnections)},
        {"orvanedb_quality_percent", "gauge", "Read quality: good field results in percent of all.",
         number(v.qualityPercent)},
        {"orvanedb_reads_good_total", "counter", "Field results read well.", QByteArray::number(v.readsGood)},
        {"orvanedb_reads_bad_total", "counter", "Field results that failed to read.",
         QByteArray::number(v.readsBad)},
        {"orvanedb_alerts_sent_total", "counter", "Alert mails sent.", QByteArray::number(v.alertsSent)},
        {"orvanedb_alerts_failed_total", "counter", "Alert mails that could not be sent.",
         QByteArray::number(v.alertsFailed)},
        {"orvanedb_seconds_since_last_row", "gauge",
         "Seconds since the last row was stored, or since the start while none has been.",
         number(v.secondsSinceLastRow)},
        {"orvanedb_database_connected", "gauge", "1 while the station holds a database connection.",
         v.databaseConnected ? "1" : "0"},
    };
    QByteArray out;
    for (const Metric& metric : metrics) {
        out += "# HELP ";
        out += metric.name;
        out += ' ';
        out += metric.help;
        out += "\n# TYPE ";
        out += metric.name;
        out += ' ';
        out += metric.type;
        out += '\n';
        out += metric.name;
        out += ' ';
        out += metric.value;
        out += '\n';
    }
    return out;
}

} // namespace app
