#pragma once

#include <QObject>

#include <tuple>
#include <type_traits>
#include <vector>

// Records a signal's emissions on the test's own thread. A signal emitted on another thread (the
// database writer's) arrives queued and is read without racing its emitter, which QSignalSpy, that
// records on the emitting thread, would do.
template <typename... Args> class QueuedSpy {
public:
    using Call = std::tuple<std::decay_t<Args>...>;

    template <typename Sender, typename Signal> QueuedSpy(Sender* sender, Signal signal) {
        QObject::connect(
            sender, signal, &m_context, [this](Args... args) { m_calls.emplace_back(args...); },
            Qt::QueuedConnection);
    }

    std::size_t size() const { return m_calls.size(); }
    bool isEmpty() const { return m_calls.empty(); }
    const Call& at(std::size_t i) const { return m_calls.at(i); }
    const std::vector<Call>& calls() const { return m_calls; }

private:
    QObject m_context;
    std::vector<Call> m_calls;
};
