// The SMTP client's reply reader against a hostile server. The first byte picks how the stream is
// cut into reads. Every reply taken out has at least one line, each line starting with the reply's
// code, and what the reader holds never goes beyond its bound.
#include "alerts/SmtpReplyReader.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using alerts::SmtpReplyReader;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const qsizetype step = qsizetype(data[0]) * 31 + 1;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    SmtpReplyReader reader;
    for (qsizetype at = 0; at < stream.size(); at += step) {
        reader.append(stream.sliced(at, std::min(step, stream.size() - at)));
        SmtpReplyReader::Reply reply;
        QString error;
        SmtpReplyReader::Result result;
        while ((result = reader.next(reply, error)) == SmtpReplyReader::Result::Reply) {
            const QString code = QString::number(reply.code).rightJustified(3, u'0');
            if (reply.lines.isEmpty() || reply.code < 0 || reply.code > 999)
                std::abort();
            for (const QString& line : reply.lines) {
                if (!line.startsWith(code))
                    std::abort();
            }
        }
        if (result == SmtpReplyReader::Result::Invalid) {
            if (error.isEmpty())
                std::abort();
            return 0;
        }
    }
    return 0;
}
