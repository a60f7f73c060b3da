#pragma once
// The desktop program's command line:
//   tollvane [ftp://URL | JOB.tvq]       open the URL or import the job
//   tollvane --transfer FILE...          offer the files for upload (the desktop's
//                                        "Send to Tollvane" action passes them)
// The result is the message a running copy would get, its paths already absolute, so the
// same value serves this start and a copy that runs already.

#include "app/lib/SingleInstance.h"

#include <QString>
#include <QStringList>

#include <optional>

inline constexpr const char* kStartUsage = "usage: tollvane [ftp://URL | JOB.tvq]\n"
                                           "       tollvane --transfer FILE...\n";

struct StartArguments {
    InstanceMessage message;
    bool helpRequested = false;
};

// `arguments` as QCoreApplication::arguments() gives them (the program first). Empty, with
// the reason in *error, when they cannot be used.
std::optional<StartArguments> ParseStartArguments(const QStringList& arguments, QString* error,
                                                  const QDir& base = QDir::current());
