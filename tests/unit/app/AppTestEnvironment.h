#pragma once
// Every test of this executable runs against temporary XDG folders made before anything
// reads them (QSettings keeps the configuration folder it saw first for the whole process),
// with a QCoreApplication for the event loop.

#include <string>

namespace apptest {

// The temporary folder that XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_RUNTIME_DIR live in.
const std::string& Root();
std::string DataHome();   // Root() + "/data"
std::string ConfigHome(); // Root() + "/config"

} // namespace apptest
