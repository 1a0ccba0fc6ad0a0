// The real message boxes: modal, OK only, the designed icon and caption, texts shown as plain
// text with their CR line breaks. Each box is answered as soon as it shows.
#include "shell/messagepresenter.h"
#include "shellfakes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QList<QAbstractButton*>::size_type buttonCount = 0;
    bool hasOk = false;
    Qt::TextFormat format = Qt::AutoText;
    bool modal = false;
    QWidget* parent = nullptr;
};

// Presses OK on the first message box that shows, after noting what it looks like.
SeenBox answerNextBox(const std::function<void()>& show) {
    SeenBox seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            seen = {true,
                    box->windowTitle(),
                    box->text(),
                    box->icon(),
                    box->buttons().size(),
                    box->button(QMessageBox::Ok) != nullptr,
                    box->textFormat(),
                    box->isModal(),
                    box->parentWidget()};
            poll.stop();
            box->button(QMessageBox::Ok)->click();
            return;
        }
    });
    poll.start(1);
    show();
    return seen;
}

} // namespace

TEST(MessageBoxPresenter, BoxesLookAsDesigned) {
    shell::MessageBoxPresenter presenter;
    QWidget window;
    struct Row {
        const char* name;
        std::function<void()> show;
        const char* title;
        QMessageBox::Icon icon;
        const char* text;
    };
    const Row rows[] = {
        {"error report",
         [&] {
             presenter.showErrorReport(
                 &window, QStringLiteral("Disk full\r\nin Brimvale2021/08/31.Form1.Form_Load at "
                                         "line 100\r\rPlease email screenshot"));
         },
         "Application Error", QMessageBox::Warning,
         "Disk full\nin Brimvale2021/08/31.Form1.Form_Load at line 100\n\nPlease email screenshot"},
        {"plain message",
         [&] {
             presenter.showPlainMessage(&window, QStringLiteral("Brimvale"),
                                        QStringLiteral("<b>Done.</b>"));
         },
         "Brimvale", QMessageBox::NoIcon, "<b>Done.</b>"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SeenBox seen = answerNextBox(row.show);
        ASSERT_TRUE(seen.shown);
        EXPECT_EQ(seen.title, QLatin1String(row.title));
        EXPECT_EQ(seen.icon, row.icon);
        EXPECT_EQ(seen.text, QString::fromUtf8(row.text));
        EXPECT_EQ(seen.buttonCount, 1);
        EXPECT_TRUE(seen.hasOk);
        EXPECT_EQ(seen.format, Qt::PlainText);
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, &window);
    }
}
