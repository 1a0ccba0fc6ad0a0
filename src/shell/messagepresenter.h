#pragma once

#include <QString>

class QWidget;

namespace shell {

// Shows the program's modal message boxes and waits until the user closes them. The window
// talks to the user only through this interface, so tests can record and answer instead.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;

    // A plain message: OK only, no icon, the given caption.
    virtual void showPlainMessage(QWidget* parent, const QString& caption, const QString& text) = 0;

    // The same with `details` (one a line) under "Show Details...".
    virtual void showDetailedMessage(QWidget* parent, const QString& caption, const QString& text,
                                     const QString& /*details*/) {
        showPlainMessage(parent, caption, text);
    }

    // The common failure report: titled "Application Error", warning icon, OK only.
    virtual void showErrorReport(QWidget* parent, const QString& text) = 0;

    // A question with Yes and No, the given caption, the question icon; true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The real boxes: QMessageBox, modal, text shown as plain text.
class MessageBoxPresenter : public MessagePresenter {
public:
    void showPlainMessage(QWidget* parent, const QString& caption, const QString& text) override;
    void showDetailedMessage(QWidget* parent, const QString& caption, const QString& text,
                             const QString& details) override;
    void showErrorReport(QWidget* parent, const QString& text) override;
    // Yes is the default button; Escape answers No.
    bool askYesNo(QWidget* parent, const QString& caption, const QString& text) override;
};

// The message text as a box shows it: every CR LF and every lone CR becomes a line break.
QString displayText(const QString& text);

} // namespace shell
