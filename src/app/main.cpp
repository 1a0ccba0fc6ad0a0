#include "cli/commandline.h"
#include "shell/form1.h"

#include <QApplication>

// With arguments Brimvale runs from the terminal and needs no display; without, its window opens.
int main(int argc, char** argv) {
    if (cli::IsCommandLine(argc, argv))
        return cli::Main(argc, argv);
    QApplication app(argc, argv);
    shell::Form1 window(shell::Form1Environment::standard());
    window.Form_Load();
    window.show();
    return app.exec();
}
