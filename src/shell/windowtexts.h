#pragma once

#include <QCoreApplication>
#include <QString>

namespace shell {

// The window's texts in the user's language: Window::tr("...").
class Window {
    Q_DECLARE_TR_FUNCTIONS(Window)
};

// A text of the window, said in the user's language each time it is read.
class WindowText {
public:
    explicit constexpr WindowText(const char* source) : m_source(source) {}
    QString text() const { return QCoreApplication::translate("Window", m_source); }
    // NOLINTNEXTLINE(google-explicit-constructor): read wherever a QString goes, as a text is.
    operator QString() const { return text(); }

private:
    const char* m_source;
};

// Captions that change during a run, and the question a stop asks. Each "&" marks the letter
// that Alt takes to the control.
inline constexpr WindowText StartCaption{QT_TRANSLATE_NOOP("Window", "&Start Joining")};
inline constexpr WindowText StopCaption{QT_TRANSLATE_NOOP("Window", "&Stop")};
// Every letter of "Pause" and "Resume" but the "m" marks another control already.
inline constexpr WindowText PauseCaption{QT_TRANSLATE_NOOP("Window", "Pause &Now")};
inline constexpr WindowText ResumeCaption{QT_TRANSLATE_NOOP("Window", "Resu&me")};
inline constexpr WindowText OutputFolderTitle{
    QT_TRANSLATE_NOOP("Window", "Save &Results To This Folder")};
inline constexpr WindowText CopyOptionsTitle{QT_TRANSLATE_NOOP("Window", "Copy &Options")};
// After both titles during a run.
inline constexpr WindowText NextRunNote{
    QT_TRANSLATE_NOOP("Window", " (a change counts from the next run)")};
inline constexpr WindowText StopQuestion{QT_TRANSLATE_NOOP(
    "Window", "Stop joining? What was copied stays; nothing partly written is left.")};

} // namespace shell
