#include "ui/LogPanel.h"

#include "ui/LogView.h"

LogPanel::LogPanel(QWidget* parent) : QStackedWidget(parent)
{
    setObjectName(QStringLiteral("logPanel"));
    setAccessibleName(QStringLiteral("Log area"));
    m_noSite = new LogView(this);
    m_noSite->setAccessibleName(QStringLiteral("Log"));
    addWidget(m_noSite);
}

LogView* LogPanel::createLog()
{
    auto* log = new LogView(this);
    addWidget(log);
    setCurrentWidget(log);
    return log;
}

void LogPanel::showLog(LogView* log)
{
    setCurrentWidget(log ? log : m_noSite);
}

void LogPanel::removeLog(LogView* log)
{
    if (!log || log == m_noSite)
        return;
    if (currentWidget() == log)
        setCurrentWidget(m_noSite);
    removeWidget(log);
    log->deleteLater();
}

LogView* LogPanel::currentLog() const
{
    return qobject_cast<LogView*>(currentWidget());
}
