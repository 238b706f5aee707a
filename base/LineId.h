#pragma once

#include <QString>
#include <QtGlobal>

#include <compare>
#include <functional>

namespace base {

// The identity of one line read from a device: the run that read it (drawn at random when a station
// starts) and its place in that run. A line worked again after a crash keeps its identity, and so
// does the row it becomes, which is how the database tells a resent row from a new one.
struct LineId {
    quint64 run = 0;
    quint64 sequence = 0;

    friend auto operator<=>(const LineId&, const LineId&) = default;

    // 32 hexadecimal digits, lower case.
    QString text() const {
        QString out(32, Qt::Uninitialized);
        char16_t* digit = reinterpret_cast<char16_t*>(out.data());
        for (const quint64 part : {run, sequence}) {
            for (int shift = 60; shift >= 0; shift -= 4)
                *digit++ = u"0123456789abcdef"[(part >> shift) & 0xF];
        }
        return out;
    }
};

} // namespace base

// For the sets and maps of lines the intake journal keeps.
template <> struct std::hash<base::LineId> {
    std::size_t operator()(const base::LineId& id) const noexcept {
        return std::size_t(id.run ^ (id.sequence * 0x9E3779B97F4A7C15ull));
    }
};
