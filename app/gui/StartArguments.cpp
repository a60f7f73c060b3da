#include "app/gui/StartArguments.h"

std::optional<StartArguments> ParseStartArguments(const QStringList& arguments, QString* error,
                                                  const QDir& base)
{
    StartArguments parsed;
    if (arguments.size() < 2) {
        parsed.message = CommandLineMessage({}, base);
        return parsed;
    }
    const QString& first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        parsed.helpRequested = true;
        return parsed;
    }
    if (first == QLatin1String("--transfer")) {
        // Everything after the option is a file, even a name that starts with "-".
        const QStringList files = arguments.mid(2);
        if (files.isEmpty()) {
            *error = QStringLiteral("--transfer needs at least one file");
            return std::nullopt;
        }
        parsed.message = TransferFilesMessage(files, base);
        return parsed;
    }
    if (first.startsWith(QLatin1String("--"))) {
        *error = QStringLiteral("unknown option %1").arg(first);
        return std::nullopt;
    }
    if (arguments.size() > 2) {
        *error = QStringLiteral("one URL or job file at a time (use --transfer for files)");
        return std::nullopt;
    }
    parsed.message = CommandLineMessage(first.toUtf8(), base);
    return parsed;
}
