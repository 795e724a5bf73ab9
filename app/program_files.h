// Where the program finds the files installed beside it. In the build tree
// the switcher sits next to the program (build/bin); in an installed tree the
// program is <prefix>/bin/parlune and the switcher
// <prefix>/libexec/parlune/swaplane (the install rules in packaging/ put it
// there), so any prefix works without a path compiled in.
//
// Thread contract: a pure function of the file system; any thread.
#pragma once

#include <QString>

namespace parlune::app {

// The folder holding the switcher `swaplane`: `programFolder` itself when the
// switcher is there, else `programFolder/../libexec/parlune` when it is
// there, else `programFolder` (the copy into the data folder then fails as
// it would have).
QString switcherFolder(const QString& programFolder);

}  // namespace parlune::app
