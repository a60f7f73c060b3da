#pragma once
// Registers a job file type for the current user the freedesktop way: a MIME package
// ($XDG_DATA_HOME/mime/packages), a .desktop file that opens it with this program
// ($XDG_DATA_HOME/applications) and the default association ($XDG_CONFIG_HOME/mimeapps.list).

#include <QString>

struct FileTypeRegistration {
    QString extension;   // without the dot: "tvq"
    QString programPath; // the program that opens such files
    QString iconName = QStringLiteral("tollvane");
    bool notify = true;  // rebuild the user's MIME and desktop databases afterwards
};

// "application/x-tollvane-" followed by the extension in lower case.
QString FileTypeMimeName(const QString& extension);

// Each step runs only when the one before succeeded; true when all did.
bool RegisterFileType(const FileTypeRegistration& registration);
