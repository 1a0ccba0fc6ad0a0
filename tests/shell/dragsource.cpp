// Another program to drag from, as a file manager is: a small window at X, Y that, when pressed,
// drags the given addresses as text/uri-list, offering Copy and Move. It prints "ready" once
// shown, "dragging" when the drag starts, "action NAME" each time the target's answer changes and
// "result NAME" when the drag ends. It stays, as a file manager does, for the target to read the
// dropped data after the drop; whoever started it ends it.
// Usage: dragsource X Y URI...
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QWidget>
#include <cstdio>
#include <utility>

namespace {

const char* actionName(Qt::DropAction action) {
    switch (action) {
    case Qt::CopyAction:
        return "copy";
    case Qt::MoveAction:
        return "move";
    case Qt::LinkAction:
        return "link";
    default:
        return "ignore";
    }
}

void say(const char* what, const char* name = nullptr) {
    if (name)
        std::printf("%s %s\n", what, name);
    else
        std::printf("%s\n", what);
    std::fflush(stdout);
}

class Source : public QWidget {
public:
    explicit Source(QByteArray uriList) : m_uriList(std::move(uriList)) {}

protected:
    // Painted, it is on the screen and takes the press.
    void paintEvent(QPaintEvent*) override {
        if (!std::exchange(m_shown, true))
            say("ready");
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        auto* data = new QMimeData;
        // The bytes a file manager sends: addresses as given, one a line, CR LF.
        data->setData(QStringLiteral("text/uri-list"), m_uriList);
        auto* drag = new QDrag(this);
        drag->setMimeData(data);
        connect(drag, &QDrag::actionChanged, this,
                [](Qt::DropAction action) { say("action", actionName(action)); });
        say("dragging");
        const Qt::DropAction result = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
        say("result", actionName(result));
    }

private:
    QByteArray m_uriList;
    bool m_shown = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: dragsource X Y URI...\n");
        return 2;
    }
    QByteArray uriList;
    for (int i = 3; i < argc; ++i)
        uriList += QByteArray(argv[i]) + "\r\n";
    Source source(uriList);
    source.setWindowTitle(QStringLiteral("drag source"));
    source.setGeometry(QByteArray(argv[1]).toInt(), QByteArray(argv[2]).toInt(), 80, 60);
    source.show();
    return app.exec();
}
