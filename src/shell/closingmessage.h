#pragma once

#include "join/host/host.h"

#include <QString>
#include <string>

namespace shell {

// The window's closing message of a run: how it ended, then the file that lists what could not be
// copied, when there is one (`notCopiedFile`).
QString closingText(const join::JoinOutcome& outcome, const std::string& notCopiedFile);

// What the closing message holds under "Show Details...": the files copied and what the flat
// copy's rules left, then every thing that could not be copied, under the entry it belongs to.
// "" when the message says it all.
QString closingDetails(const join::JoinOutcome& outcome);

} // namespace shell
