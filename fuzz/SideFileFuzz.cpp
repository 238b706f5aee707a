// The side-file decoder against hostile files: whatever it reads, written back in the encoding it
// found, reads again as the same lines.
#include "station/SideFile.h"

#include <cstdint>
#include <cstdlib>

using station::SideFile;
using station::SideFileEncoding;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    SideFileEncoding found{};
    const config::LineList list = SideFile::decode(bytes, found);
    for (const QString& line : list.lines()) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            std::abort();
    }
    SideFileEncoding again{};
    const config::LineList back = SideFile::decode(SideFile::encode(list.text(), found), again);
    if (again != found || back.lines() != list.lines())
        std::abort();
    return 0;
}
