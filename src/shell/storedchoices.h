#pragma once

#include "join/host/host.h"
#include "join/host/reportlocations.h"
#include "settings.h"

#include <QString>

class QRadioButton;

namespace shell {

// What the window remembers from one session to the next: the output folder's text and the
// copy option, stored the moment they change and read back at start-up. A store that fails is
// reported once, not once per keystroke; a later success re-arms the report.
class StoredChoices {
public:
    StoredChoices(Settings& settings, join::ErrorReporter& reporter)
        : m_settings(settings), m_reporter(reporter) {}

    // The output folder's text as typed or picked.
    void storeOutputFolder(const QString& text);
    // Both option buttons' states, stored when `procedure` selected one of them.
    void storeCopyOptions(bool preserve, bool flat, join::Procedure procedure);

    // The stored output folder, or `defaultFolder` when none is stored.
    QString outputFolder(const QString& defaultFolder) const;
    // The stored state of each option button ("Preserve folder structure" selected by default).
    // A stored text that is no Boolean throws join::Failure 13 ("Type mismatch").
    bool preserveOption() const;
    bool flatOption() const;

private:
    void store(const QString& key, const QString& value, join::Procedure procedure);

    Settings& m_settings;
    join::ErrorReporter& m_reporter;
    bool m_failureReported = false;
};

// Shows an option button's stored state; the stored options may leave both buttons clear.
void setOptionState(QRadioButton* option, bool selected);

} // namespace shell
