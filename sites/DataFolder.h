#pragma once
// The per-user data folder and the program folder, and filling the data folder at the
// first start from the files shipped with the program.

#include <string>
#include <vector>

// $XDG_DATA_HOME/Tollvane/, or ~/.local/share/Tollvane/ when that is unset; ends in "/".
std::string GetDataFolder();
// The folder of the running executable; ends in "/".
std::string GetProgramFolder();
// Where the shipped files are looked for, in order: the executable's folder, then
// <prefix>/share/tollvane/ (prefix: the folder above the executable's).
std::vector<std::string> GetShippedFileFolders();

// Creates the folder and its parents; an existing folder is fine.
bool CreateDataFolder(const std::string& dataFolder);

// Copies "site.dat", "urlhis.txt" and "pathhis.txt" into the data folder unless it has them
// already, and creates "jobs" and "cache" filled from the shipped folders of that name when
// they are missing. Files that are not shipped are simply not copied.
void PrepareDataFolder(const std::string& dataFolder, const std::vector<std::string>& shippedFolders);
