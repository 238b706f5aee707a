#pragma once

#include <QString>

namespace testsupport {

// A whole parcel line as a reading device sends it, without its LF: STX, header, sequence number,
// guide fallback, guide, the code|weight|plaza group, a 3-character slot, the dimensions and the
// trailing TAB-separated fields. Every slot is good, so it gives a stored row with
// "Con dim-Con peso-Con guía".
inline const QString kSampleDeviceLine =
    QString::fromUtf16(u"\x02H00001!000123!PQ12RS34TU56VW78XY90ZZ ROUTE 55!GT10HJ20KM30NP40QR50ST!"
                       u"GUIA0001ZXWV0002TSRQ0003|4.5|P01!A01!012.5x030.0x045.5\tXYZ\t");

} // namespace testsupport
