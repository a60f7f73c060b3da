// tollvane: the desktop program.
//   tollvane [ftp://URL | JOB.tvq]
// A second start hands its argument to the running copy and ends.

#include "app/gui/TollvaneApplication.h"
#include "app/gui/UnixSignalWatcher.h"
#include "app/lib/QtSettingsStore.h"

#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>

namespace {

// The command line handed to the main frame (here or in the running copy): the first
// argument, a file made absolute so that another process can open it.
QByteArray CommandLineFrom(const QStringList& arguments)
{
    if (arguments.size() < 2)
        return {};
    QString argument = arguments.at(1);
    const QFileInfo file(argument);
    if (!argument.contains(QStringLiteral("://")) && file.exists())
        argument = file.absoluteFilePath();
    return argument.toUtf8();
}

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

    QtSettingsStore store;
    TollvaneApplication::Options options;
    options.askQuestions = DisplayCanAnswer();
    TollvaneApplication tollvane(store, options);
    if (const std::optional<int> status = tollvane.start(CommandLineFrom(QApplication::arguments())))
        return *status;

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &tollvane,
                     &TollvaneApplication::closeUnattended);
    return QApplication::exec();
}
