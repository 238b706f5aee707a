// The network intake's line splitter against hostile byte streams. The first byte picks how the
// stream is cut into reads, so that lines split across reads at every place are tried. What the
// splitter hands out must be exactly the stream cut at LF (one CR before it dropped), a line that is
// too long cut to its first bytes, and it never holds more than one line's worth.
#include "station/LineSplitter.h"

#include <QList>

#include <cstdint>
#include <cstdlib>

using station::LineSplitter;

namespace {

// The lines the stream holds, as a plain reading of the rules, and whether one of them was cut.
struct Expected {
    QList<QByteArray> lines;
    bool cut = false;
};

Expected expectedLines(QByteArrayView stream) {
    Expected e;
    qsizetype start = 0;
    while (true) {
        const qsizetype lf = stream.indexOf('\n', start);
        const qsizetype end = lf < 0 ? stream.size() : lf;
        if (end - start > LineSplitter::kMaxLineBytes) {
            e.cut = true;
            e.lines.append(stream.sliced(start, LineSplitter::kMaxLineBytes).toByteArray());
            if (lf < 0)
                return e;
            start = lf + 1;
            continue;
        }
        if (lf < 0)
            return e;
        QByteArray line = stream.sliced(start, lf - start).toByteArray();
        if (line.endsWith('\r'))
            line.chop(1);
        e.lines.append(line);
        start = lf + 1;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t step = std::size_t(data[0]) * 67 + 1;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    LineSplitter splitter;
    QList<QByteArray> got;
    bool cut = false;
    for (qsizetype at = 0; at < stream.size(); at += qsizetype(step)) {
        const QByteArrayView read =
            stream.sliced(at, std::min<qsizetype>(qsizetype(step), stream.size() - at));
        if (splitter.feed(read, [&](QByteArrayView line) { got.append(line.toByteArray()); }) ==
            LineSplitter::Result::LineCut)
            cut = true;
        if (splitter.pendingSize() > LineSplitter::kMaxLineBytes)
            std::abort();
    }

    const Expected expected = expectedLines(stream);
    // However the reads fall, the same lines come out and a long line is cut at the same place.
    if (cut != expected.cut || got != expected.lines)
        std::abort();
    for (const QByteArray& line : got) {
        const QString text = LineSplitter::decode(line);
        if (text.size() != line.size())
            std::abort();
    }
    return 0;
}
