// tollvane-screenshots DIR [URL]: starts the desktop program as main() does (in the data
// and settings folders of the environment), opens URL, waits until the listing and the
// log are there, and writes PNG pictures of the main window and of each dialog into DIR.
// scripts/screenshots runs it under Xvfb against the demo server.

#include "app/gui/TollvaneApplication.h"
#include "app/lib/QtSettingsStore.h"
#include "ui/LoginMessageWindow.h"
#include "ui/LogView.h"
#include "ui/MainFrame.h"
#include "ui/MessageWindow.h"
#include "ui/OfflineSearchDialog.h"
#include "ui/OpenSession.h"
#include "ui/OptionsSheet.h"
#include "ui/OverwriteDialog.h"
#include "ui/QueueModel.h"
#include "ui/QueueView.h"
#include "ui/RemoteFileModel.h"
#include "ui/RemotePane.h"
#include "ui/SessionList.h"
#include "ui/SiteManagerDialog.h"
#include "ui/SiteView.h"
#include "session/QueueEntry.h"
#include "session/TransferQueue.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QMessageBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Runs the event loop until `done` holds or the time is up.
bool WaitFor(const std::function<bool()>& done, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
    return true;
}

bool Save(QWidget* widget, const QDir& folder, const QString& name)
{
    widget->show();
    WaitFor([] { return false; }, 300); // let it lay out and paint
    const QString path = folder.filePath(name);
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "tollvane-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// ---- the Site Manager, the options sheet and the offline search ----

std::unique_ptr<CSiteSetting> SampleSite(const char* name, const char* address, int port, const char* user,
                                         int loginType, const char* remoteDirectory)
{
    auto site = std::make_unique<CSiteSetting>();
    site->name = name;
    site->address = address;
    site->port = port;
    site->username = user;
    site->password = loginType == CSiteSetting::LOGIN_ANONYMOUS ? "guest@example.org" : "secret";
    site->logintype = loginType;
    site->defremotedir = remoteDirectory;
    site->passive = 1;
    return site;
}

bool SaveSiteManager(QWidget* frame, const QDir& folder, const QTemporaryDir& work)
{
    SiteList sites;
    sites.push_back(SampleSite("Demo server", "127.0.0.1", 2121, "anonymous", CSiteSetting::LOGIN_ANONYMOUS, ""));
    sites.push_back(SampleSite("Photo archive", "files.example.net", 21, "alice", CSiteSetting::LOGIN_NORMAL,
                               "/photos/2024"));
    sites.push_back(SampleSite("Mirror (Debian)", "ftp.example.org", 21, "anonymous", CSiteSetting::LOGIN_ANONYMOUS,
                               "/debian"));
    sites.push_back(SampleSite("Office NAS", "192.168.1.20", 2121, "backup", CSiteSetting::LOGIN_NORMAL, "/shared"));
    SiteManagerDialog dialog(sites, work.filePath(QStringLiteral("site.dat")).toStdString(), "guest@example.org",
                             frame);
    dialog.selectRow(1);
    const bool ok = Save(&dialog, folder, QStringLiteral("site-manager.png"));
    dialog.hide();
    return ok;
}

// The options sheet over the program's own settings, one picture per page.
bool SaveOptionsSheet(MainFrame* frame, const QDir& folder)
{
    frame->actions().settings->trigger();
    auto* sheet = frame->findChild<OptionsSheet*>();
    if (!sheet) {
        std::fprintf(stderr, "tollvane-screenshots: the settings command opened no sheet\n");
        return false;
    }
    bool ok = true;
    QTabWidget* pages = sheet->pages();
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        const QString name = pages->tabText(page).toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
        ok = Save(sheet, folder, QStringLiteral("options-%1.png").arg(name)) && ok;
    }
    pages->setCurrentIndex(1);
    sheet->showHelp();
    if (QMessageBox* help = sheet->helpWindow()) {
        ok = Save(help, folder, QStringLiteral("options-help.png")) && ok;
        help->close();
    }
    sheet->reject();
    return ok;
}

void WriteCachedListing(const std::string& folder, const std::vector<std::string>& lines)
{
    std::filesystem::create_directories(folder);
    std::ofstream out(folder + "/files.lis", std::ios::binary);
    for (const std::string& line : lines)
        out << line << "\r\n";
}

// A small cache of three sites (one on another port with an account), searched for "*.pdf".
bool SaveOfflineSearch(QWidget* frame, const QDir& folder, const QTemporaryDir& work)
{
    const std::string home = work.filePath(QStringLiteral("cache")).toStdString();
    const auto file = [](const char* name) { return std::string("-rw-r--r-- 1 ftp ftp 482113 Mar 3 2024 ") + name; };
    const auto dir = [](const char* name) { return std::string("drwxr-xr-x 2 ftp ftp 4096 Mar 3 2024 ") + name; };
    WriteCachedListing(home + "/ftp.example.org", {dir("pub"), file("README")});
    WriteCachedListing(home + "/ftp.example.org/pub", {dir("manuals"), file("index.html"), file("release notes.pdf")});
    WriteCachedListing(home + "/ftp.example.org/pub/manuals",
                       {file("user guide.pdf"), file("quick start.pdf"), file("quick start.txt")});
    WriteCachedListing(home + "/alice@files.example.net", {dir("photos"), file("invoice 2024-03.pdf")});
    WriteCachedListing(home + "/alice@files.example.net/photos", {file("beach.jpg"), file("album.pdf")});
    WriteCachedListing(home + "/backup@192.168.1.20:2121", {dir("shared")});
    WriteCachedListing(home + "/backup@192.168.1.20:2121/shared", {file("contracts.pdf"), file("budget.ods")});

    OfflineSearchDialog dialog(home, frame);
    dialog.moveAllToSearch();
    dialog.findChild<QLineEdit*>(QStringLiteral("searchPattern"))->setText(QStringLiteral("*.pdf"));
    dialog.show();
    dialog.searchOrStop();
    if (!WaitFor([&] { return dialog.state() == OfflineSearchDialog::State::Idle; }, 30000)) {
        std::fprintf(stderr, "tollvane-screenshots: the offline search did not end within 30 s\n");
        return false;
    }
    auto* results = dialog.findChild<QTableView*>(QStringLiteral("resultList"));
    results->setCurrentIndex(dialog.results().index(1, 0));
    results->setFocus();
    const bool ok = Save(&dialog, folder, QStringLiteral("offline-search.png"));
    dialog.hide();
    return ok;
}

bool SaveDialogPictures(MainFrame* frame, const QDir& folder)
{
    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "tollvane-screenshots: no temporary folder for the dialogs\n");
        return false;
    }
    bool ok = SaveSiteManager(frame, folder, work);
    ok = SaveOptionsSheet(frame, folder) && ok;
    ok = SaveOfflineSearch(frame, folder, work) && ok;
    return ok;
}

// The main window while the queue runs: the files of "/Transfers" on the demo server (which
// scripts/screenshots serves slowly) are queued for download, the largest first, as the
// remote pane lists them; the picture is taken once the transferring row shows its
// percentage. The run is stopped afterwards.
bool SaveRunningQueue(TollvaneApplication& tollvane, const QDir& folder)
{
    MainFrame* frame = tollvane.mainFrame();
    OpenSession* session = tollvane.sessions()->active();
    RemotePane* remote = session ? frame->rightSiteView()->paneOf(session) : nullptr;
    if (!remote) {
        std::fprintf(stderr, "tollvane-screenshots: no remote pane for the running queue\n");
        return false;
    }
    const std::string served = "/Transfers";
    remote->goToPath(served);
    RemoteFileModel* listing = remote->model();
    if (!WaitFor([&] { return listing->folder() == served && listing->rowCount() > 2; }, 30000)) {
        std::fprintf(stderr, "tollvane-screenshots: no listing of %s within 30 s\n", served.c_str());
        return false;
    }
    std::vector<RFILE_DATA> files;
    for (int row = 0; row < listing->rowCount(); ++row) {
        if (!listing->entry(row).bDirectory)
            files.push_back(listing->entry(row));
    }
    std::stable_sort(files.begin(), files.end(),
                     [](const RFILE_DATA& a, const RFILE_DATA& b) { return a.FileSize() > b.FileSize(); });
    const QString downloads = QDir::current().filePath(QStringLiteral("Downloads"));
    QDir().mkpath(downloads);
    for (const RFILE_DATA& file : files) {
        auto entry = std::make_unique<CQueueEntry>();
        entry->operation = QUEUE_DOWNLOAD;
        entry->kind = KIND_FILE;
        entry->remotePath = served + "/" + file.strName;
        entry->localPath = downloads.toStdString();
        entry->SetSize(file.FileSize());
        session->session().Queue().Append(std::move(entry));
    }
    session->session().StartQueue();

    QueueModel* model = frame->queueView()->queueModel();
    const bool running = WaitFor([&] {
        const QVariant percent = model->index(0, QueueModel::Status).data(QueueModel::ProgressPercentRole);
        return percent.isValid() && percent.toInt() >= 25 && model->progressText().contains(QStringLiteral("KB/s"));
    }, 60000);
    if (!running)
        std::fprintf(stderr, "tollvane-screenshots: the queue did not show a running transfer within 60 s\n");
    const bool saved = Save(frame, folder, QStringLiteral("running-queue.png"));

    session->session().CancelOperation();
    session->session().Queue().ClearQueue();
    WaitFor([&] { return !session->session().IsBusy(); }, 10000);
    return running && saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Vintrelle"));
    QApplication::setApplicationName(QStringLiteral("Tollvane"));
    QApplication::setApplicationVersion(QStringLiteral(TOLLVANE_VERSION));
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: tollvane-screenshots DIR [URL]\n");
        return 2;
    }
    QDir folder(arguments.at(1));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "tollvane-screenshots: cannot make %s\n", qPrintable(arguments.at(1)));
        return 1;
    }

    QtSettingsStore store;
    TollvaneApplication::Options options;
    options.askQuestions = false;
    options.startup.notifyFileTypes = false;
    TollvaneApplication tollvane(store, options);
    const QByteArray url = arguments.size() > 2 ? arguments.at(2).toUtf8() : QByteArray();
    if (const auto status = tollvane.start(url))
        return *status;
    MainFrame* frame = tollvane.mainFrame();
    frame->resize(1280, 860);

    bool ok = true;
    if (!url.isEmpty()) {
        const bool listed = WaitFor([&] {
            OpenSession* active = tollvane.sessions()->active();
            RemotePane* right = active ? frame->rightSiteView()->paneOf(active) : nullptr;
            return right && frame->logOf(active) && frame->logOf(active)->lineCount() > 10 &&
                   right->model()->rowCount() > 3;
        }, 30000);
        if (!listed) {
            std::fprintf(stderr, "tollvane-screenshots: no listing from %s within 30 s\n", url.constData());
            ok = false;
        }
    }
    // One tick of the frame's 500 ms timer, so the status bar and the site list show the
    // session as it is now.
    const QDeadlineTimer settle(600);
    WaitFor([&] { return settle.hasExpired(); }, 1000);
    ok = Save(frame, folder, QStringLiteral("main-window.png")) && ok;
    if (!url.isEmpty())
        ok = SaveRunningQueue(tollvane, folder) && ok;

    COverwriteQuestion question{"/Sample files/report 2024.pdf", QDir::homePath().toStdString() + "/Downloads/report 2024.pdf",
                                1, 1, true};
    OverwriteDialog overwrite(question, 0, frame);
    ok = Save(&overwrite, folder, QStringLiteral("overwrite-confirmation.png")) && ok;
    overwrite.hide();

    MessageWindow message(frame);
    message.setMessage(QStringLiteral("127.0.0.1"), QStringLiteral("550 Permission denied.\r\n"), 10);
    ok = Save(&message, folder, QStringLiteral("message-window.png")) && ok;
    message.hide();

    LoginMessageWindow login(frame);
    login.showMessage(QStringLiteral("Demo server"),
                      QStringLiteral("220-Welcome to the demo server.\n220-Uploads go into /upload.\n220 Have fun."));
    ok = Save(&login, folder, QStringLiteral("login-message.png")) && ok;
    login.hide();

    frame->actions().about->trigger();
    if (auto* about = frame->findChild<QMessageBox*>(QStringLiteral("aboutBox"))) {
        ok = Save(about, folder, QStringLiteral("about-box.png")) && ok;
        about->close();
    }

    ok = SaveDialogPictures(frame, folder) && ok;

    tollvane.closeUnattended();
    WaitFor([&] { return !frame->isVisible(); }, 10000);
    return ok ? 0 : 1;
}
