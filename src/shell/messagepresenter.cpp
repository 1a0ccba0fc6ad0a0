#include "messagepresenter.h"

#include "windowtexts.h"

#include <QMessageBox>

namespace shell {

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text,
             const QString& details = {}) {
    QMessageBox box(icon, caption, displayText(text), QMessageBox::Ok, parent);
    // Texts carry folder names and failure descriptions; they must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    // Shown as plain text in a box of its own, behind "Show Details...".
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.exec();
}

} // namespace

void MessageBoxPresenter::showPlainMessage(QWidget* parent, const QString& caption,
                                           const QString& text) {
    showBox(parent, QMessageBox::NoIcon, caption, text);
}

void MessageBoxPresenter::showDetailedMessage(QWidget* parent, const QString& caption,
                                              const QString& text, const QString& details) {
    showBox(parent, QMessageBox::NoIcon, caption, text, details);
}

void MessageBoxPresenter::showErrorReport(QWidget* parent, const QString& text) {
    showBox(parent, QMessageBox::Warning, Window::tr("Application Error"), text);
}

bool MessageBoxPresenter::askYesNo(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Question, caption, displayText(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString displayText(const QString& text) {
    QString display = text;
    display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    display.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return display;
}

} // namespace shell
