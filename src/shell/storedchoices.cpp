#include "storedchoices.h"

#include "pathtext.h"
#include "windowtexts.h"
#include "words/words.h"

#include <QRadioButton>
#include <string>

namespace shell {

namespace {

const QString OutputFolderKey = QStringLiteral("Output Folder");
const QString PreserveOptionKey = QStringLiteral("Option1");
const QString FlatOptionKey = QStringLiteral("Option2");

} // namespace

void StoredChoices::storeOutputFolder(const QString& text) {
    store(OutputFolderKey, text, join::Procedure::StoreOutputFolder);
}

void StoredChoices::storeCopyOptions(bool preserve, bool flat, join::Procedure procedure) {
    store(PreserveOptionKey, booleanText(preserve), procedure);
    store(FlatOptionKey, booleanText(flat), procedure);
}

QString StoredChoices::outputFolder(const QString& defaultFolder) const {
    return m_settings.GetSetting(OutputFolderKey, defaultFolder);
}

bool StoredChoices::preserveOption() const {
    return readBoolean(m_settings.GetSetting(PreserveOptionKey, QStringLiteral("1")));
}

bool StoredChoices::flatOption() const {
    return readBoolean(m_settings.GetSetting(FlatOptionKey, QStringLiteral("0")));
}

void StoredChoices::store(const QString& key, const QString& value, join::Procedure procedure) {
    const QSettings::Status status = m_settings.SaveSetting(key, value);
    if (status == QSettings::NoError) {
        m_failureReported = false;
        return;
    }
    // One report for a failing store, not one per keystroke; a later success re-arms it.
    if (m_failureReported)
        return;
    m_failureReported = true;
    const std::string file = fileSystemPath(m_settings.fileName());
    const std::string description = words::fill(
        (status == QSettings::AccessError ? Window::tr("Cannot write the settings file %1")
                                          : Window::tr("The settings file %1 is not readable"))
            .toStdString(),
        {file});
    m_reporter.showErrorReport(join::Failure(join::ErrorNumber::PathFileAccessError, description),
                               join::reportLocation(procedure), 100);
}

void setOptionState(QRadioButton* option, bool selected) {
    if (selected) {
        // Selecting an unselected button counts as a click on it.
        option->setChecked(true);
        return;
    }
    // Qt refuses to clear the selected button of an exclusive group; the stored options may
    // leave both clear.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

} // namespace shell
