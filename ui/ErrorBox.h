#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

namespace ui {

// The general error report as the operator sees it: one message box, not modal, so the window and
// the core go on while it stands. A burst of errors does not stack boxes: the box shows the latest
// message and counts the ones before it since the operator last closed it.
class ErrorBox final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ErrorBox)

public:
    explicit ErrorBox(QWidget* window);

    void report(const QString& message);

    // Reports not yet dismissed by the operator, the latest included.
    int pendingCount() const { return m_count; }
    QMessageBox& box() { return *m_box; }

    static QString countText(int earlier);

private:
    void refresh();

    QPointer<QMessageBox> m_box; // a child of the window, which owns it
    QTimer m_refresh;
    QString m_latest;
    int m_count = 0;
};

} // namespace ui
