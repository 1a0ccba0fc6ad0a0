/* Brimvale's skin: a Qt style sheet that start-up applies to the main window when this file
   stands beside the program as x/o.cjs. Fonts, positions and sizes stay as designed. */

QPushButton {
    color: #1b2a3a;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fdfdfd, stop: 1 #dde5ee);
    border: 1px solid #8c9fb4;
    border-radius: 3px;
    padding: 0px 4px;
}

QPushButton:hover {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #cde0f4);
    border-color: #3f74ad;
}

QPushButton:pressed {
    background-color: #b9d0e9;
    border-color: #2d5f96;
}

QPushButton:focus {
    border-color: #2d6db2;
}

QGroupBox {
    border: 1px solid #a6b4c3;
    border-radius: 4px;
    margin-top: 7px;
}

QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0px 3px;
    color: #1f4e79;
}

QLineEdit {
    background-color: #ffffff;
    border: 1px solid #8c9fb4;
    border-radius: 2px;
    padding: 0px 3px;
}

QLineEdit:focus {
    border-color: #2d6db2;
}

QTreeView {
    background-color: #ffffff;
    border: 1px solid #8c9fb4;
    selection-background-color: #3f74ad;
    selection-color: #ffffff;
}

QHeaderView::section {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fbfcfd, stop: 1 #e3e9ef);
    color: #1b2a3a;
    border: none;
    border-right: 1px solid #b7c3cf;
    border-bottom: 1px solid #b7c3cf;
    padding: 2px 4px;
}

QProgressBar {
    background-color: #f3f5f7;
    border: 1px solid #8c9fb4;
    border-radius: 3px;
    color: #1b2a3a;
    text-align: center;
}

QProgressBar::chunk {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #9cc6ee, stop: 1 #5f9bd6);
    border-radius: 2px;
}
