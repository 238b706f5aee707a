#include "app/MetricsValues.h"

#include <cmath>

namespace app {

namespace {

void add(QByteArray& out, const char* name, const char* type, const char* help, const QByteArray& value) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
    out += name;
    out += ' ';
    out += value;
    out += '\n';
}

QByteArray number(quint64 value) {
    return QByteArray::number(value);
}

QByteArray number(qint64 value) {
    return QByteArray::number(value);
}

QByteArray number(double value) {
    if (std::isnan(value))
        return "NaN";
    return QByteArray::number(value, 'g', 15);
}

} // namespace

QByteArray prometheusText(const MetricsValues& v) {
    QByteArray out;
    add(out, "orvanedb_lines_received_total", "counter", "Lines received from the devices into the queue.",
        number(v.linesReceived));
    add(out, "orvanedb_rows_stored_total", "counter", "Rows the database accepted into paquetes.",
        number(v.rowsStored));
    add(out, "orvanedb_rows_refused_total", "counter",
        "Rows the database refused, each left in a Query-fallido dump file.", number(v.rowsRefused));
    add(out, "orvanedb_rows_waiting", "gauge", "Rows waiting for the database to take them.",
        number(v.rowsWaiting));
    add(out, "orvanedb_queue_length", "gauge", "Received lines not yet processed.", number(v.queueLength));
    add(out, "orvanedb_device_connections", "gauge", "Open device connections.", number(v.deviceConnections));
    add(out, "orvanedb_quality_percent", "gauge", "Read quality: good field results in percent of all.",
        number(v.qualityPercent));
    add(out, "orvanedb_reads_good_total", "counter", "Field results read well.", number(v.readsGood));
    add(out, "orvanedb_reads_bad_total", "counter", "Field results that failed to read.", number(v.readsBad));
    add(out, "orvanedb_alerts_sent_total", "counter", "Alert mails sent.", number(v.alertsSent));
    add(out, "orvanedb_alerts_failed_total", "counter", "Alert mails that could not be sent.",
        number(v.alertsFailed));
    add(out, "orvanedb_seconds_since_last_row", "gauge",
        "Seconds since the last row was stored, or since the start while none has been.",
        number(v.secondsSinceLastRow));
    add(out, "orvanedb_database_connected", "gauge", "1 while the station holds a database connection.",
        number(qint64(v.databaseConnected ? 1 : 0)));
    return out;
}

} // namespace app
