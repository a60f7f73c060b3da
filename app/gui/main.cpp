// tollvane: the desktop program.
//   tollvane [ftp://URL | JOB.tvq]
//   tollvane --transfer FILE...
// A second start hands its URL, job or files to the running copy and ends.

#include "app/gui/StartArguments.h"
#include "app/gui/TollvaneApplication.h"
#include "app/gui/UnixSignalWatcher.h"
#include "app/lib/QtSettingsStore.h"

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>

namespace {

bool DisplayCanAnswer()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vintrelle"));
    QApplication::setApplicationName(QStringLiteral("Tollvane"));
    QApplication::setApplicationVersion(QStringLiteral(TOLLVANE_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("tollvane"));

    QString error;
    const std::optional<StartArguments> arguments = ParseStartArguments(QApplication::arguments(), &error);
    if (!arguments) {
        std::fprintf(stderr, "tollvane: %s\n%s", error.toLocal8Bit().constData(), kStartUsage);
        return 2;
    }
    if (arguments->helpRequested) {
        std::fputs(kStartUsage, stdout);
        return 0;
    }

    QtSettingsStore store;
    TollvaneApplication::Options options;
    options.askQuestions = DisplayCanAnswer();
    TollvaneApplication tollvane(store, options);
    if (const std::optional<int> status = tollvane.startWith(arguments->message))
        return *status;

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &tollvane,
                     &TollvaneApplication::closeUnattended);
    return QApplication::exec();
}
