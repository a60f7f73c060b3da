#pragma once
// The log area of the main frame: one LogView per open site, of which the active site's
// is shown. The panel owns the logs; a log is removed when its site is closed for good.

#include <QStackedWidget>

class LogView;

class LogPanel : public QStackedWidget {
    Q_OBJECT
public:
    explicit LogPanel(QWidget* parent = nullptr);

    LogView* createLog();
    void showLog(LogView* log);   // null: the empty log of no site
    void removeLog(LogView* log);
    LogView* currentLog() const;

private:
    LogView* m_noSite = nullptr;
};
