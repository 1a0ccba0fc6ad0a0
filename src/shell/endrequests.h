#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

class QSocketNotifier;
class QWidget;

namespace shell {

// The requests to end the window's process that do not come as a close: SIGTERM, SIGHUP and
// SIGINT, and the window destroyed by another X client (its close was never asked). Each is
// handed to the window's thread as a Qt signal.
//
// A POSIX signal is caught only while the window asks for it (a join under way): the handler
// then only writes the signal's number to a pipe, which a socket notifier reads on the window's
// thread. Otherwise, and on a second signal before the window has read the first, the signal
// ends the process at once, as it would without a handler. A signal that was ignored when the
// first window was made (nohup) stays ignored.
class EndRequests : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit EndRequests(QWidget* window);
    ~EndRequests() override;

    void setCatchingSignals(bool catching);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void signalled(int signal);
    void windowDestroyed();

private:
    void readSignals();

    QWidget* m_window;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace shell
