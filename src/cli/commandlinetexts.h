#pragma once

#include <QCoreApplication>
#include <string>

namespace cli {

// The command line's texts in the user's language: CommandLine::tr("..."), or said("...") as
// UTF-8 for a text marked with QT_TRANSLATE_NOOP("CommandLine", ...).
class CommandLine {
    Q_DECLARE_TR_FUNCTIONS(CommandLine)
};

inline std::string said(const char* text) {
    return CommandLine::tr(text).toStdString();
}

} // namespace cli
