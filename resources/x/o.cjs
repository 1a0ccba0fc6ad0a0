/* Brimvale's skin: a Qt style sheet that start-up applies to the main window when this file
   stands beside the program as x/o.cjs. Fonts, positions and sizes stay as designed.

   Every selector names the window's own controls (by object name, or as direct children of the
   window and its output folder box): the sheet of a window also reaches the dialogs and message
   boxes opened over it, and those keep the desktop's look. Every rule that paints a background
   gives its text colour too, so that the skin reads the same under a light or a dark desktop.
   The window, the group boxes and the option buttons take the desktop's button face and button
   text; the group box titles are drawn in that text colour. */

#Form1 > QPushButton,
#Frame2 > QPushButton {
    color: #1b2a3a;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fdfdfd, stop: 1 #dde5ee);
    border: 1px solid #8c9fb4;
    border-radius: 3px;
    padding: 0px 4px;
}

#Form1 > QPushButton:hover,
#Frame2 > QPushButton:hover {
    color: #1b2a3a;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #ffffff, stop: 1 #cde0f4);
    border-color: #3f74ad;
}

#Form1 > QPushButton:pressed,
#Frame2 > QPushButton:pressed {
    color: #1b2a3a;
    background-color: #b9d0e9;
    border-color: #2d5f96;
}

#Form1 > QPushButton:focus,
#Frame2 > QPushButton:focus {
    border-color: #2d6db2;
}

QGroupBox#Frame1,
QGroupBox#Frame2 {
    border: 1px solid #a6b4c3;
    border-radius: 4px;
    margin-top: 7px;
}

QGroupBox#Frame1::title,
QGroupBox#Frame2::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 8px;
    padding: 0px 3px;
}

QRadioButton#Option1::indicator,
QRadioButton#Option2::indicator {
    border: 1px solid #8c9fb4;
    border-radius: 7px;
    background-color: #ffffff;
}

QRadioButton#Option1::indicator:checked,
QRadioButton#Option2::indicator:checked {
    background-color: qradialgradient(cx: 0.5, cy: 0.5, radius: 0.5, fx: 0.5, fy: 0.5,
                                      stop: 0 #1b2a3a, stop: 0.45 #1b2a3a, stop: 0.55 #ffffff, stop: 1 #ffffff);
}

QLineEdit#Text2 {
    color: #1b2a3a;
    background-color: #ffffff;
    selection-color: #ffffff;
    selection-background-color: #3f74ad;
    border: 1px solid #8c9fb4;
    border-radius: 2px;
    padding: 0px 3px;
}

QLineEdit#Text2:focus {
    border-color: #2d6db2;
}

QTreeView#ListView1 {
    color: #1b2a3a;
    background-color: #ffffff;
    selection-color: #ffffff;
    selection-background-color: #3f74ad;
    border: 1px solid #8c9fb4;
}

QTreeView#ListView1 QHeaderView {
    color: #1b2a3a;
    background-color: #e3e9ef;
}

QTreeView#ListView1 QHeaderView::section {
    color: #1b2a3a;
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #fbfcfd, stop: 1 #e3e9ef);
    border: none;
    border-right: 1px solid #b7c3cf;
    border-bottom: 1px solid #b7c3cf;
    padding: 2px 4px;
}

QProgressBar#ProgressBar1 {
    color: #1b2a3a;
    background-color: #f3f5f7;
    border: 1px solid #8c9fb4;
    border-radius: 3px;
    text-align: center;
}

QProgressBar#ProgressBar1::chunk {
    background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #9cc6ee, stop: 1 #5f9bd6);
    border-radius: 2px;
}
