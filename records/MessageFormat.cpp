#include "records/MessageFormat.h"

namespace records {

QStringView trimControl(QStringView text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.sliced(begin, end - begin);
}

qsizetype find(QStringView text, QStringView needle, qsizetype from) {
    if (needle.isEmpty())
        return -1;
    return text.indexOf(needle, from);
}

QStringView cutBefore(QStringView& rest, QStringView separator) {
    const qsizetype at = find(rest, separator);
    if (at < 0)
        return rest.first(0);
    const QStringView before = rest.first(at);
    rest = rest.sliced(at + separator.size());
    return before;
}

void skipPast(QStringView& rest, QStringView separator) {
    const qsizetype at = find(rest, separator);
    if (at >= 0)
        rest = rest.sliced(at + separator.size());
}

QString tabsToSeparator(QStringView text, QStringView separator) {
    QString out;
    out.reserve(text.size() + 8 * separator.size());
    qsizetype from = 0;
    for (qsizetype at = text.indexOf(kTab); at >= 0; at = text.indexOf(kTab, from)) {
        out.append(text.sliced(from, at - from));
        out.append(separator);
        from = at + 1;
    }
    out.append(text.sliced(from));
    return out;
}

RecordText recordText(QStringView frame, QStringView separator) {
    QStringView rest = trimControl(frame);
    RecordText record;
    const qsizetype tab = rest.indexOf(kTab);
    if (tab >= 0) {
        record.origin = rest.first(tab);
        rest = rest.sliced(tab + 1);
    } else {
        record.origin = rest.first(0);
    }
    const QString separated = tabsToSeparator(rest, separator);
    const QStringView trimmed = trimControl(separated);
    record.text = trimmed.size() == separated.size() ? separated : trimmed.toString();
    return record;
}

qsizetype headerLength(QStringView text) {
    if (text.size() >= 7 && text[6] == u'!')
        return 7;
    if (text.indexOf(u'+') == 2)
        return 9;
    return 6;
}

QStringView withoutHeader(QStringView text) {
    const qsizetype header = headerLength(text);
    return header >= text.size() ? text.sliced(text.size()) : text.sliced(header);
}

Slots cutSlots(QStringView text, QStringView separator) {
    Slots slots;
    QStringView rest = text;
    slots.slot[0] = cutBefore(rest, separator);
    slots.guiaRespaldo = rest.first(std::min<qsizetype>(22, rest.size()));
    skipPast(rest, separator);
    for (int i = 2; i <= 4; ++i)
        slots.slot[i] = cutBefore(rest, separator);
    slots.slot[5] = rest.first(std::min<qsizetype>(17, rest.size()));
    skipPast(rest, separator);
    slots.slot[6] = rest.first(std::min<qsizetype>(3, rest.size()));
    skipPast(rest, separator);
    slots.remainder = rest;
    return slots;
}

SlotKind slotKind(qsizetype length) {
    switch (length) {
    case 6:
        return SlotKind::Sequence;
    case 14:
    case 15:
    case 16:
    case 17:
        return SlotKind::Dimensions;
    case 22:
        return SlotKind::Guide;
    case 32:
        return SlotKind::Group32;
    default:
        return SlotKind::None;
    }
}

bool isExpectedSlotLength(qsizetype length) {
    return length == 3 || length == 6 || length == 17 || length == 22 || length == 32;
}

Dimensions splitDimensions(QStringView group, QStringView dimensionSeparator) {
    Dimensions d;
    QStringView rest = group;
    d.h = cutBefore(rest, dimensionSeparator);
    d.l = cutBefore(rest, dimensionSeparator);
    d.w.reserve(rest.size());
    for (const QChar c : rest) {
        if ((c >= u'0' && c <= u'9') || c == u'.')
            d.w.append(c);
    }
    return d;
}

Group32 splitGroup32(QStringView group) {
    static constexpr QStringView kBar = u"|";
    Group32 g;
    QStringView rest = group;
    g.code = cutBefore(rest, kBar);
    g.weight = cutBefore(rest, kBar);
    g.plaza = rest;
    return g;
}

bool isMarked(QStringView text, QStringView failure) {
    return find(text, failure) >= 0;
}

} // namespace records
