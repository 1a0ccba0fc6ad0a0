#pragma once

#include <QCoreApplication>

namespace sources {

// The list commands' texts in the user's language: Lists::tr("...").
class Lists {
    Q_DECLARE_TR_FUNCTIONS(Lists)
};

} // namespace sources
