#pragma once
// "Offline Search": finds entries of the directory cache whose whole names match a
// pattern, without any connection. The user moves cached sites from "Available Sites:" to
// "Sites to search:", types wildcards or a regular expression and gets ftp URLs that can
// be copied or opened in Tollvane. The search runs on its own thread (OfflineSearchRun);
// the dialog can be closed only when no search runs.

#include "ui/CachedEntry.h"
#include "ui/OfflineSearchRun.h"
#include "ui/SearchResultModel.h"

#include <QDialog>

#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableView;
class QListWidget;
class QPushButton;

class OfflineSearchDialog : public QDialog {
    Q_OBJECT
public:
    enum class State { Idle, Searching, Stopping };

    OfflineSearchDialog(const std::string& cacheHome, QWidget* parent = nullptr);

    State state() const { return m_state; }
    SearchResultModel& results() { return m_results; }
    QString statusText() const;
    QString countText() const;
    std::vector<std::string> sitesToSearch() const;

    // The buttons' actions, for the keyboard and for tests.
    void moveSelectedToSearch();
    void moveAllToSearch();
    void moveSelectedBack();
    void moveAllBack();
    void searchOrStop();
    void copyUrl();
    void openInTollvane();

public slots:
    void reject() override; // Close and Escape: refused while a search runs

signals:
    // "Open in Browser" (and a double click on a result): open the result's site at its
    // folder, with the entry chosen.
    void openRequested(const CachedEntry& entry);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool refuseClose();
    void startSearch();
    void setSearching(bool searching);
    void takeResults(std::vector<std::string>& urls, const std::string& folder);
    void searchFinished(bool stopped);
    void showCount();
    int currentResult() const;

    std::string m_cacheHome;
    OfflineSearchRun m_run;
    SearchResultModel m_results;
    State m_state = State::Idle;
    std::size_t m_count = 0;

    QListWidget* m_available = nullptr;
    QListWidget* m_toSearch = nullptr;
    QPushButton* m_moveOne = nullptr;
    QPushButton* m_moveAll = nullptr;
    QPushButton* m_backOne = nullptr;
    QPushButton* m_backAll = nullptr;
    QLineEdit* m_pattern = nullptr;
    QCheckBox* m_regularExpression = nullptr;
    QPushButton* m_searchButton = nullptr;
    QLabel* m_countLabel = nullptr;
    QTableView* m_resultView = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_copyUrl = nullptr;
    QPushButton* m_open = nullptr;
    QPushButton* m_close = nullptr;
};
