#include "shell/form1.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    shell::Form1 window(shell::Form1Environment::standard());
    window.Form_Load();
    window.show();
    return app.exec();
}
