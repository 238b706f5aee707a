// orvanedb-sim: reading devices that send their lines to a station, for watching it work and for
// loading it.

#include "tools/DeviceFleet.h"
#include "tools/SerialDevice.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostInfo>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

double rateOption(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const double rate = parser.value(name).toDouble(&ok);
    if (!ok || rate < 0 || rate > 1) {
        std::fprintf(stderr, "--%s wants a rate from 0 to 1\n", qPrintable(name));
        std::exit(2);
    }
    return rate;
}

quint64 numberOption(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const quint64 value = parser.value(name).toULongLong(&ok);
    if (!ok) {
        std::fprintf(stderr, "--%s wants a whole number\n", qPrintable(name));
        std::exit(2);
    }
    return value;
}

void report(const tools::DeviceFleet& fleet, bool perDevice) {
    QTextStream out(stdout);
    const auto all = fleet.perDevice();
    if (perDevice) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            const auto& c = all[i];
            out << u"device %1: %2 lines, %3 bytes, malformed %4, failed guide %5 code %6 weight %7 dimensions %8\n"_s
                       .arg(i)
                       .arg(c.lines)
                       .arg(c.bytes)
                       .arg(c.malformed)
                       .arg(c.failedGuide)
                       .arg(c.failedCode)
                       .arg(c.failedWeight)
                       .arg(c.failedDimensions);
        }
    }
    const auto t = fleet.totals();
    const double seconds = fleet.elapsedMs() / 1000.0;
    out << u"sent %1 lines (%2 bytes) from %3 devices in %4 s, %5 lines/s\n"_s.arg(t.lines)
               .arg(t.bytes)
               .arg(all.size())
               .arg(seconds, 0, 'f', 2)
               .arg(seconds > 0 ? double(t.lines) / seconds : 0.0, 0, 'f', 0);
    out << u"malformed %1, failed guide %2, code %3, weight %4, dimensions %5, connections refused %6, lost %7\n"_s
               .arg(t.malformed)
               .arg(t.failedGuide)
               .arg(t.failedCode)
               .arg(t.failedWeight)
               .arg(t.failedDimensions)
               .arg(fleet.failedConnections())
               .arg(fleet.lostConnections());
}

void report(const tools::SerialDevice& device, const QString& path) {
    QTextStream out(stdout);
    const tools::SentCounts& c = device.counts();
    const double seconds = device.elapsedMs() / 1000.0;
    out << u"sent %1 lines (%2 bytes) to %3 in %4 s\n"_s.arg(c.lines).arg(c.bytes).arg(path).arg(seconds, 0,
                                                                                                 'f', 2);
    out << u"malformed %1, failed guide %2, code %3, weight %4, dimensions %5\n"_s.arg(c.malformed)
               .arg(c.failedGuide)
               .arg(c.failedCode)
               .arg(c.failedWeight)
               .arg(c.failedDimensions);
}

volatile std::sig_atomic_t g_stopRequested = 0;

void stopOnSignal(int) {
    g_stopRequested = 1;
}

tools::FailureRates failureRates(const QCommandLineParser& parser) {
    tools::FailureRates rates;
    rates.guide = rateOption(parser, u"fail-guide"_s);
    rates.code = rateOption(parser, u"fail-code"_s);
    rates.weight = rateOption(parser, u"fail-weight"_s);
    rates.dimensions = rateOption(parser, u"fail-dims"_s);
    rates.malformed = rateOption(parser, u"malformed"_s);
    return rates;
}

// One device on a serial line, until its lines are sent, the duration is over or a signal comes.
int runSerialDevice(const QCommandLineParser& parser, QTimer& signalWatch, quint64 duration) {
    tools::SerialDevice::Options options;
    options.path = parser.value(u"serial"_s);
    options.baud = qint32(numberOption(parser, u"baud"_s));
    options.lines = numberOption(parser, u"lines"_s);
    options.linesPerSecond = parser.value(u"rate"_s).toDouble();
    options.seed = quint32(numberOption(parser, u"seed"_s));
    options.failures = failureRates(parser);
    tools::SerialDevice device(options);
    QObject::connect(&signalWatch, &QTimer::timeout, &device, [&] {
        if (g_stopRequested) {
            signalWatch.stop();
            device.stop();
        }
    });
    QObject::connect(&device, &tools::SerialDevice::finished, &device, [&] {
        report(device, options.path);
        QCoreApplication::exit(0);
    });
    if (duration > 0)
        QTimer::singleShot(std::chrono::seconds(duration), &device, &tools::SerialDevice::stop);
    if (!device.start()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(options.path),
                     qPrintable(device.errorString()));
        return 1;
    }
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"orvanedb-sim"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Simulated reading devices that send parcel lines to an OrvaneDB station."_s);
    parser.addHelpOption();
    parser.addOptions({
        {u"host"_s, u"Station host (default 127.0.0.1)."_s, u"host"_s, u"127.0.0.1"_s},
        {u"port"_s, u"Station port (default 5010)."_s, u"port"_s, u"5010"_s},
        {u"devices"_s, u"Number of devices, one connection each (default 1)."_s, u"n"_s, u"1"_s},
        {u"lines"_s, u"Lines per device; 0 sends until stopped (default 100)."_s, u"n"_s, u"100"_s},
        {u"rate"_s, u"Lines per second per device; 0 sends as fast as the station takes them (default 1)."_s,
         u"n"_s, u"1"_s},
        {u"duration"_s, u"Stop after this many seconds (default: when every line is sent)."_s, u"s"_s,
         u"0"_s},
        {u"fail-guide"_s, u"Rate of guides sent as \"?\" placeholders (0 to 1)."_s, u"rate"_s, u"0"_s},
        {u"fail-code"_s, u"Rate of codes sent as \"?\" placeholders."_s, u"rate"_s, u"0"_s},
        {u"fail-weight"_s, u"Rate of weights sent as \"???\"."_s, u"rate"_s, u"0"_s},
        {u"fail-dims"_s, u"Rate of dimension groups sent as \"???.?x???.?x???.?\"."_s, u"rate"_s, u"0"_s},
        {u"malformed"_s, u"Rate of broken lines (cut short, separators lost, stray bytes)."_s, u"rate"_s,
         u"0"_s},
        {u"seed"_s, u"Seed of the random lines (default 1)."_s, u"n"_s, u"1"_s},
        {u"connect-interval"_s, u"Milliseconds between two devices connecting (default 2)."_s, u"ms"_s,
         u"2"_s},
        {u"spread-loopback"_s, u"Device i connects from 127.0.0.(i+1), so each has an origin of its own."_s},
        {u"per-device"_s, u"Report every device, not only the totals."_s},
        {u"serial"_s, u"One device on a serial line instead: its lines go to this serial device node."_s,
         u"path"_s},
        {u"baud"_s, u"Speed of the serial line (default 19200)."_s, u"n"_s, u"19200"_s},
    });
    parser.process(app);
    // Ctrl+C ends the devices after their current line and still prints the report.
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
    QTimer signalWatch;
    signalWatch.start(100);
    const quint64 duration = numberOption(parser, u"duration"_s);

    if (parser.isSet(u"serial"_s))
        return runSerialDevice(parser, signalWatch, duration);

    tools::DeviceFleet::Options options;
    const QString host = parser.value(u"host"_s);
    options.host = QHostAddress(host);
    if (options.host.isNull()) {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.addresses().isEmpty()) {
            std::fprintf(stderr, "cannot resolve %s\n", qPrintable(host));
            return 2;
        }
        options.host = info.addresses().constFirst();
    }
    const quint64 port = numberOption(parser, u"port"_s);
    if (port == 0 || port > 65535) {
        std::fprintf(stderr, "--port wants 1 to 65535\n");
        return 2;
    }
    options.port = quint16(port);
    options.devices = int(numberOption(parser, u"devices"_s));
    options.linesPerDevice = numberOption(parser, u"lines"_s);
    options.linesPerSecond = parser.value(u"rate"_s).toDouble();
    options.seed = quint32(numberOption(parser, u"seed"_s));
    options.spreadLoopback = parser.isSet(u"spread-loopback"_s);
    options.connectIntervalMs = int(numberOption(parser, u"connect-interval"_s));
    options.failures = failureRates(parser);

    tools::DeviceFleet fleet(options);
    QObject::connect(&signalWatch, &QTimer::timeout, &fleet, [&] {
        if (g_stopRequested) {
            signalWatch.stop();
            fleet.stop();
        }
    });
    const bool perDevice = parser.isSet(u"per-device"_s);
    QObject::connect(&fleet, &tools::DeviceFleet::finished, &app, [&] {
        report(fleet, perDevice);
        QCoreApplication::exit(fleet.failedConnections() == options.devices && options.devices > 0 ? 1 : 0);
    });
    if (duration > 0)
        QTimer::singleShot(std::chrono::seconds(duration), &fleet, &tools::DeviceFleet::stop);
    fleet.start();
    return QCoreApplication::exec();
}
