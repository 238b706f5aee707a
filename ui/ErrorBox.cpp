#include "ui/ErrorBox.h"

using namespace Qt::StringLiterals;

namespace ui {

namespace {
constexpr int kRefreshMs = 16;
}

ErrorBox::ErrorBox(QWidget* window)
    : QObject(window)
    , m_box(new QMessageBox(QMessageBox::Critical, u"Orvane DB"_s, QString(), QMessageBox::Ok, window)) {
    m_box->setObjectName(u"ErrorBox"_s);
    m_box->setModal(false);
    m_box->setWindowModality(Qt::NonModal);
    m_box->setTextFormat(Qt::PlainText);
    connect(m_box, &QMessageBox::finished, this, [this] { m_count = 0; });
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(kRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &ErrorBox::refresh);
}

void ErrorBox::report(const QString& message) {
    m_latest = message;
    ++m_count;
    if (!m_refresh.isActive())
        m_refresh.start();
}

QString ErrorBox::countText(int earlier) {
    if (earlier <= 0)
        return {};
    if (earlier == 1)
        return u"Antes de este hubo 1 error m\u00e1s."_s;
    return u"Antes de este hubo %1 errores m\u00e1s."_s.arg(earlier);
}

void ErrorBox::refresh() {
    if (!m_box)
        return;
    m_box->setText(m_latest);
    m_box->setInformativeText(countText(m_count - 1));
    if (!m_box->isVisible())
        m_box->show();
}

} // namespace ui
