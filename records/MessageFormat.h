#pragma once

#include <QString>
#include <QStringView>

#include <array>

// The reading message format: how a queue entry becomes a record text, and the record text its
// header, seven slots and remainder. Everything here returns views into its input: this runs for
// every parcel.
namespace records {

inline constexpr QChar kStx = QChar(0x02);
inline constexpr QChar kTab = QChar(0x09);
inline constexpr QChar kLf = QChar(0x0A);

// Removes characters of code 0x20 or lower from both ends.
QStringView trimControl(QStringView text);

// The first occurrence of `needle` in `text`; an empty needle is never found.
qsizetype find(QStringView text, QStringView needle, qsizetype from = 0);

// The text before the first `separator` (empty when there is none), and `rest` without that text
// and the separator (unchanged when there is none).
QStringView cutBefore(QStringView& rest, QStringView separator);

// Removes everything up to and including the first `separator` (nothing when there is none).
void skipPast(QStringView& rest, QStringView separator);

// Replaces every TAB by `separator`.
QString tabsToSeparator(QStringView text, QStringView separator);

struct RecordText {
    QStringView origin; // the text before the frame's first TAB
    QString text;       // the device line with TABs as separators, trimmed
};

// Trim, cut the origin at the first TAB, TABs to S, trim again.
RecordText recordText(QStringView frame, QStringView separator);

// 7 when the 7th character is "!", else 9 when the first "+" is the 3rd character, else 6.
qsizetype headerLength(QStringView text);
QStringView withoutHeader(QStringView text);

struct Slots {
    // Slots 1 to 7 at index 0 to 6; index 1 (slot 2) is never classified and stays empty.
    std::array<QStringView, 7> slot;
    QStringView guiaRespaldo;
    QStringView remainder;
};

// Cuts the text after the header into its seven slots.
Slots cutSlots(QStringView text, QStringView separator);

enum class SlotKind { None, Sequence, Dimensions, Guide, Group32 };

SlotKind slotKind(qsizetype length);

// 3, 6, 17, 22 and 32: every other length of a classified slot is a format error.
bool isExpectedSlotLength(qsizetype length);

struct Dimensions {
    QStringView h; // the first value, unchanged
    QStringView l; // the second value, unchanged
    QString w;     // of the text after the second D, only "0"-"9" and "."
};

Dimensions splitDimensions(QStringView group, QStringView dimensionSeparator);

struct Group32 {
    QStringView code;
    QStringView weight;
    QStringView plaza;
};

// code "|" weight "|" plaza; a further "|" stays in the plaza.
Group32 splitGroup32(QStringView group);

// Whether `failure` occurs in `text`; an empty failure text never occurs.
bool isMarked(QStringView text, QStringView failure);

} // namespace records
