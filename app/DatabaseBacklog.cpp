#include "app/DatabaseBacklog.h"

#include "base/Clock.h"

using namespace Qt::StringLiterals;

namespace app {

DatabaseBacklog::DatabaseBacklog(std::function<OutboxProgress()> progress, const base::Clock& clock,
                                 QObject* parent)
    : DatabaseBacklog(std::move(progress), clock, m_ownStopwatch, parent) {}

DatabaseBacklog::DatabaseBacklog(std::function<OutboxProgress()> progress, const base::Clock& clock,
                                 base::Stopwatch& sinceNotice, QObject* parent)
    : QObject(parent)
    , m_progress(std::move(progress))
    , m_clock(clock)
    , m_sinceNotice(sinceNotice)
    , m_refresh(this) {
    m_refresh.setInterval(kRefreshEvery);
    connect(&m_refresh, &QTimer::timeout, this, &DatabaseBacklog::refresh);
}

QString DatabaseBacklog::countText(qint64 count) {
    QString digits = QString::number(count);
    for (qsizetype at = digits.size() - 3; at > (count < 0 ? 1 : 0); at -= 3)
        digits.insert(at, u' ');
    return digits;
}

QString DatabaseBacklog::rowsText(qint64 count) {
    return countText(count) + (count == 1 ? u" fila"_s : u" filas"_s);
}

void DatabaseBacklog::databaseCreated(const QString& path) {
    const QString line = u"Base de datos creada: "_s + path;
    Q_EMIT notice(line, base::Priority::Notice);
    if (m_status.isEmpty())
        show(line);
}

void DatabaseBacklog::connectionLost(const QString& error) {
    QString reason = error.simplified();
    if (!m_down) {
        m_since = m_clock.now();
        m_down = true;
    } else if (reason == m_error) {
        return;
    }
    m_error = std::move(reason);
    m_noticeDue = true;
    m_refresh.start();
    refresh();
}

void DatabaseBacklog::connectionBack() {
    if (!m_down)
        return;
    m_down = false;
    m_owedUpTo = m_progress().appended;
    refresh();
}

void DatabaseBacklog::refresh() {
    const OutboxProgress progress = m_progress();
    const qint64 waiting = progress.waiting;
    if (m_down) {
        show(u"BD sin conexi\u00f3n: %1 en espera desde %2 \u2014 %3"_s.arg(
            rowsText(waiting), m_since.toString(u"HH:mm:ss"), m_error));
        if (m_noticeDue || m_sinceNotice.elapsedMs() >= std::chrono::milliseconds(kNoticeEvery).count()) {
            m_noticeDue = false;
            m_sinceNotice.restart();
            Q_EMIT notice(m_status, base::Priority::Error);
        }
        return;
    }
    if (!m_refresh.isActive())
        return;
    if (progress.confirmed < m_owedUpTo) {
        show(u"BD conectada de nuevo: %1 en espera"_s.arg(rowsText(waiting)));
        return;
    }
    m_refresh.stop();
    show(QString());
    Q_EMIT notice(u"BD conectada de nuevo: todas las filas en espera quedaron guardadas"_s,
                  base::Priority::Notice);
}

void DatabaseBacklog::show(const QString& text) {
    if (text == m_status)
        return;
    m_status = text;
    Q_EMIT statusChanged(m_status);
}

} // namespace app
