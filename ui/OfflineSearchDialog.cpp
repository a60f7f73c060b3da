#include "ui/OfflineSearchDialog.h"
#include "ui/ControlNames.h"

#include "ui/DisplayText.h"
#include "ui/PlainMessage.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QHeaderView>
#include <QTableView>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kResultExtent = 800; // pixels a result row may scroll to
constexpr int kSiteRole = Qt::UserRole; // the site folder's name as bytes

const QString kReady = QStringLiteral("Click <search> button to start searching.");
const QString kCompleted = QStringLiteral("Searching completed successfully!");
const QString kCancelled = QStringLiteral("Searching cancelled by user!");
const QString kStopping = QStringLiteral("Stopping search...");

QPushButton* Button(const QString& text, const char* objectName, const QString& accessibleName, QWidget* parent)
{
    auto* button = Named(new QPushButton(text, parent), objectName, accessibleName);
    button->setAutoDefault(false);
    return button;
}

QListWidget* SiteNameList(const char* objectName, const QString& accessibleName, QWidget* parent)
{
    auto* list = Named(new QListWidget(parent), objectName, accessibleName);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSortingEnabled(false);
    return list;
}

QListWidgetItem* SiteItem(const std::string& site)
{
    auto* item = new QListWidgetItem(DisplayText(site));
    item->setData(kSiteRole, QByteArray::fromStdString(site));
    return item;
}

// Moves the items of `from` (all, or the selected ones) to the end of `to`, in order.
void MoveItems(QListWidget* from, QListWidget* to, bool all)
{
    for (int row = 0; row < from->count();) {
        if (all || from->item(row)->isSelected()) {
            QListWidgetItem* item = from->takeItem(row);
            item->setSelected(false);
            to->addItem(item);
        } else {
            ++row;
        }
    }
}

} // namespace

OfflineSearchDialog::OfflineSearchDialog(const std::string& cacheHome, QWidget* parent)
    : QDialog(parent), m_cacheHome(cacheHome), m_run(cacheHome)
{
    setObjectName(QStringLiteral("offlineSearchDialog"));
    setAccessibleName(QStringLiteral("Offline Search"));
    setWindowTitle(QStringLiteral("Offline Search"));

    m_available = SiteNameList("availableSites", QStringLiteral("Available Sites"), this);
    m_toSearch = SiteNameList("sitesToSearch", QStringLiteral("Sites to search"), this);
    m_moveOne = Button(QStringLiteral(">"), "moveSelectedToSearch", QStringLiteral("Search the selected sites"), this);
    m_moveAll = Button(QStringLiteral(">>"), "moveAllToSearch", QStringLiteral("Search all sites"), this);
    m_backOne = Button(QStringLiteral("<"), "moveSelectedBack", QStringLiteral("Do not search the selected sites"), this);
    m_backAll = Button(QStringLiteral("<<"), "moveAllBack", QStringLiteral("Do not search any site"), this);
    connect(m_moveOne, &QPushButton::clicked, this, &OfflineSearchDialog::moveSelectedToSearch);
    connect(m_moveAll, &QPushButton::clicked, this, &OfflineSearchDialog::moveAllToSearch);
    connect(m_backOne, &QPushButton::clicked, this, &OfflineSearchDialog::moveSelectedBack);
    connect(m_backAll, &QPushButton::clicked, this, &OfflineSearchDialog::moveAllBack);
    connect(m_available, &QListWidget::itemDoubleClicked, this, &OfflineSearchDialog::moveSelectedToSearch);
    connect(m_toSearch, &QListWidget::itemDoubleClicked, this, &OfflineSearchDialog::moveSelectedBack);

    std::vector<std::string> sites = CachedSites(cacheHome);
    std::sort(sites.begin(), sites.end());
    for (const std::string& site : sites)
        m_available->addItem(SiteItem(site));

    m_pattern = Named(new QLineEdit(this), "searchPattern", QStringLiteral("File to search"));
    m_regularExpression = Named(new QCheckBox(QStringLiteral("Regular Expression"), this), "regularExpression",
                                QStringLiteral("Regular Expression"));
    m_searchButton = Button(QStringLiteral("Search"), "searchButton", QStringLiteral("Search"), this);
    m_searchButton->setDefault(true);
    connect(m_searchButton, &QPushButton::clicked, this, &OfflineSearchDialog::searchOrStop);
    connect(m_pattern, &QLineEdit::returnPressed, this, [this] {
        if (m_state == State::Idle)
            searchOrStop();
    });

    m_countLabel = Named(new QLabel(QStringLiteral("Result list: 0 files found."), this), "resultCount",
                         QStringLiteral("Result count"));
    m_countLabel->setTextFormat(Qt::PlainText);
    // A table: its rows are placed by the header's fixed section size, so inserting rows
    // costs no relayout of the ones already there, however many there are.
    m_resultView = Named(new QTableView(this), "resultList", QStringLiteral("Result list"));
    m_resultView->setModel(&m_results);
    m_resultView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_resultView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_resultView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_resultView->setShowGrid(false);
    m_resultView->setWordWrap(false);
    m_resultView->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_resultView->verticalHeader()->hide();
    m_resultView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_resultView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_resultView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    m_resultView->horizontalHeader()->setStretchLastSection(false);
    m_resultView->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter); // over the URLs' start
    m_resultView->setColumnWidth(0, kResultExtent); // long URLs scroll into view
    m_countLabel->setBuddy(m_resultView);
    connect(m_resultView, &QTableView::doubleClicked, this, &OfflineSearchDialog::openInTollvane);

    m_status = Named(new QLabel(kReady, this), "searchStatus", QStringLiteral("Search status"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setMinimumWidth(200);

    m_copyUrl = Button(QStringLiteral("Copy URL"), "copyUrl", QStringLiteral("Copy URL"), this);
    m_open = Button(QStringLiteral("Open in Browser"), "openInBrowser", QStringLiteral("Open in Tollvane"), this);
    m_open->setToolTip(QStringLiteral("Opens the site at the result's folder"));
    m_close = Button(QStringLiteral("Close"), "closeButton", QStringLiteral("Close"), this);
    connect(m_copyUrl, &QPushButton::clicked, this, &OfflineSearchDialog::copyUrl);
    connect(m_open, &QPushButton::clicked, this, &OfflineSearchDialog::openInTollvane);
    connect(m_close, &QPushButton::clicked, this, &OfflineSearchDialog::reject);

    connect(&m_run, &OfflineSearchRun::resultsArrived, this, &OfflineSearchDialog::takeResults);
    connect(&m_run, &OfflineSearchRun::finished, this, &OfflineSearchDialog::searchFinished);

    // Layout: the two site lists with the move buttons between them, the pattern row, the
    // result count above the results, the status line below them, the buttons at the foot.
    auto* sitesGrid = new QGridLayout;
    auto* availableLabel = new QLabel(QStringLiteral("Available Sites:"), this);
    availableLabel->setBuddy(m_available);
    auto* toSearchLabel = new QLabel(QStringLiteral("Sites to search:"), this);
    toSearchLabel->setBuddy(m_toSearch);
    sitesGrid->addWidget(availableLabel, 0, 0);
    sitesGrid->addWidget(toSearchLabel, 0, 2);
    sitesGrid->addWidget(m_available, 1, 0);
    auto* moveButtons = new QVBoxLayout;
    moveButtons->addStretch();
    for (QPushButton* button : {m_moveOne, m_moveAll, m_backOne, m_backAll})
        moveButtons->addWidget(button);
    moveButtons->addStretch();
    sitesGrid->addLayout(moveButtons, 1, 1);
    sitesGrid->addWidget(m_toSearch, 1, 2);

    auto* patternRow = new QHBoxLayout;
    auto* patternLabel = new QLabel(QStringLiteral("File to search:"), this);
    patternLabel->setBuddy(m_pattern);
    patternRow->addWidget(patternLabel);
    patternRow->addWidget(m_pattern, 1);
    patternRow->addWidget(m_regularExpression);
    patternRow->addWidget(m_searchButton);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_copyUrl);
    buttons->addWidget(m_open);
    buttons->addStretch();
    buttons->addWidget(m_close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(sitesGrid);
    layout->addLayout(patternRow);
    layout->addWidget(m_countLabel);
    layout->addWidget(m_resultView, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);
    resize(640, 560);
}

QString OfflineSearchDialog::statusText() const { return m_status->text(); }
QString OfflineSearchDialog::countText() const { return m_countLabel->text(); }

std::vector<std::string> OfflineSearchDialog::sitesToSearch() const
{
    std::vector<std::string> sites;
    for (int row = 0; row < m_toSearch->count(); ++row)
        sites.push_back(m_toSearch->item(row)->data(kSiteRole).toByteArray().toStdString());
    return sites;
}

void OfflineSearchDialog::moveSelectedToSearch() { MoveItems(m_available, m_toSearch, false); }
void OfflineSearchDialog::moveAllToSearch() { MoveItems(m_available, m_toSearch, true); }
void OfflineSearchDialog::moveSelectedBack() { MoveItems(m_toSearch, m_available, false); }
void OfflineSearchDialog::moveAllBack() { MoveItems(m_toSearch, m_available, true); }

// ---- searching ----

void OfflineSearchDialog::searchOrStop()
{
    switch (m_state) {
    case State::Idle:
        startSearch();
        return;
    case State::Searching:
        m_state = State::Stopping;
        m_searchButton->setEnabled(false);
        m_status->setText(kStopping);
        m_run.stop();
        return;
    case State::Stopping:
        return;
    }
}

void OfflineSearchDialog::startSearch()
{
    const PATTERN_ERROR error = m_run.start(sitesToSearch(), EngineText(m_pattern->text()),
                                            m_regularExpression->isChecked());
    if (error.Failed()) {
        // Nothing is searched: the pattern stays for the user to mend.
        m_status->setText(QStringLiteral("The pattern is not valid at position %1: %2")
                              .arg(error.position + 1)
                              .arg(DisplayText(error.message)));
        m_pattern->setFocus();
        return;
    }
    m_results.clear();
    m_count = 0;
    m_state = State::Searching;
    setSearching(true);
    m_countLabel->setText(QStringLiteral("Results: 0 files found."));
}

void OfflineSearchDialog::setSearching(bool searching)
{
    m_searchButton->setText(searching ? QStringLiteral("Stop") : QStringLiteral("Search"));
    m_searchButton->setAccessibleName(m_searchButton->text());
    m_searchButton->setEnabled(true);
    for (QWidget* control : std::initializer_list<QWidget*>{m_available, m_toSearch, m_moveOne, m_moveAll,
                                                            m_backOne, m_backAll, m_pattern, m_regularExpression})
        control->setEnabled(!searching);
}

void OfflineSearchDialog::takeResults(std::vector<std::string>& urls, const std::string& folder)
{
    if (!urls.empty()) {
        m_count += urls.size();
        m_results.append(std::move(urls));
        showCount();
        m_resultView->scrollToBottom();
    }
    if (m_state == State::Searching && !folder.empty())
        m_status->setText(QStringLiteral("Searching %1...").arg(DisplayText(folder)));
}

void OfflineSearchDialog::showCount()
{
    m_countLabel->setText(QStringLiteral("Results: %1 files found.").arg(m_count));
}

void OfflineSearchDialog::searchFinished(bool stopped)
{
    m_state = State::Idle;
    setSearching(false);
    showCount();
    m_status->setText(stopped ? kCancelled : kCompleted);
}

// ---- results ----

int OfflineSearchDialog::currentResult() const
{
    const QModelIndex index = m_resultView->currentIndex();
    return index.isValid() ? index.row() : -1;
}

void OfflineSearchDialog::copyUrl()
{
    const int row = currentResult();
    if (row < 0)
        return;
    QApplication::clipboard()->setText(DisplayText(m_results.url(row)));
}

void OfflineSearchDialog::openInTollvane()
{
    const int row = currentResult();
    if (row < 0)
        return;
    const std::string& url = m_results.url(row);
    if (const std::optional<CachedEntry> entry = CachedEntryFromUrl(url))
        emit openRequested(*entry);
    else
        ShowPlainMessage(this, QStringLiteral("This result names no server that Tollvane can open:\n%1").arg(DisplayText(url)),
                         QStringLiteral("Offline Search"));
}

// ---- closing ----

bool OfflineSearchDialog::refuseClose()
{
    switch (m_state) {
    case State::Idle:
        return false;
    case State::Searching:
        ShowPlainMessage(this, QStringLiteral("Please stop searching first!"), QStringLiteral("Offline Search"));
        return true;
    case State::Stopping:
        ShowPlainMessage(this, QStringLiteral("Please wait until the searching is stopped."),
                         QStringLiteral("Offline Search"));
        return true;
    }
    return true;
}

void OfflineSearchDialog::reject()
{
    if (!refuseClose())
        QDialog::reject();
}

void OfflineSearchDialog::closeEvent(QCloseEvent* event)
{
    if (refuseClose())
        event->ignore();
    else
        QDialog::closeEvent(event);
}
