#include "storage/PendingRow.h"

#include "base/ByteCodec.h"

namespace storage {

namespace {

constexpr quint8 kVersion = 1;
enum class Tag : quint8 { Null, Text, Number };

} // namespace

QByteArray PendingRow::encoded() const {
    QByteArray out;
    out.reserve(256); // a row of the station is about 170 bytes
    base::ByteWriter w(out);
    // Local fields as the station saw them: the row's hour must not move with a later time zone.
    const QDate& date = processedAt.date;
    w.put(kVersion).put(lectura).put(qint32(date.year())).put(qint8(date.month())).put(qint8(date.day()));
    w.put(qint32(processedAt.time.msecsSinceStartOfDay()));
    w.put(quint16(values.size()));
    for (const StatementValue& v : values) {
        if (const auto* text = std::get_if<QString>(&v))
            w.put(quint8(Tag::Text)).put(*text);
        else if (const auto* number = std::get_if<double>(&v))
            w.put(quint8(Tag::Number)).put(*number);
        else
            w.put(quint8(Tag::Null));
    }
    return out;
}

std::optional<PendingRow> PendingRow::decoded(QByteArrayView bytes) {
    base::ByteReader r(bytes);
    quint8 version = 0;
    PendingRow row;
    qint32 year = 0;
    qint8 month = 0;
    qint8 day = 0;
    qint32 msecs = 0;
    quint16 count = 0;
    if (!r.get(version) || version != kVersion || !r.get(row.lectura) || !r.get(year) || !r.get(month) ||
        !r.get(day) || !r.get(msecs) || !r.get(count))
        return std::nullopt;
    row.processedAt = {QDate(year, month, day), QTime::fromMSecsSinceStartOfDay(msecs)};
    row.values.reserve(count);
    for (quint16 i = 0; i < count; ++i) {
        quint8 tag = 0;
        if (!r.get(tag))
            return std::nullopt;
        switch (Tag(tag)) {
        case Tag::Null:
            row.values.append(std::monostate{});
            break;
        case Tag::Text: {
            QString text;
            if (!r.get(text))
                return std::nullopt;
            row.values.append(std::move(text));
            break;
        }
        case Tag::Number: {
            double d = 0;
            if (!r.get(d))
                return std::nullopt;
            row.values.append(d);
            break;
        }
        default:
            return std::nullopt;
        }
    }
    if (!r.atEnd())
        return std::nullopt;
    return row;
}

} // namespace storage
