// The side-file decoder against hostile files: whatever it reads, written back in the encoding it
// found, reads again as the same lines.
#include "station/SideFile.h"

#include <cstdint>
#include <cstdlib>

using station::SideFile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const SideFile::Decoded read = SideFile::decode(bytes);
    for (const QString& line : read.list.lines()) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            std::abort();
    }
    const SideFile::Decoded again = SideFile::decode(SideFile::encode(read.list.text(), read.encoding));
    if (again.encoding != read.encoding || again.list.lines() != read.list.lines())
        std::abort();
    return 0;
}
