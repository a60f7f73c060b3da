#include "ui/LogView.h"

#include "session/LogLineText.h"
#include "ui/DisplayText.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("logView"));
    setAccessibleName(QStringLiteral("Log"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

QColor LogView::kindColour(int kind)
{
    switch (kind) {
    case LOG_WARNING: return QColor(0, 0, 255);
    case LOG_ERROR: return QColor(255, 0, 0);
    case LOG_REPLY: return QColor(0, 80, 40);
    case LOG_COMMAND: return QColor(120, 20, 0);
    default: return QColor(0, 0, 0);
    }
}

void LogView::addLine(const CLogLine& line)
{
    addLines({line});
}

void LogView::addLines(const std::vector<CLogLine>& lines)
{
    QScrollBar* bar = verticalScrollBar();
    for (const CLogLine& line : lines) {
        trim();
        append(line);
    }
    bar->setValue(bar->maximum());
}

int LogView::lineCount() const
{
    const QTextDocument* doc = document();
    if (doc->isEmpty())
        return 0;
    return doc->blockCount();
}

void LogView::append(const CLogLine& line)
{
    // The displayed text is the stored text without its CRs: a line end starts a new
    // block, and a CR left over from a reply is shown as nothing.
    QString text = DisplayText(FormatLogLine(line));
    text.remove(QLatin1Char('\r'));
    const bool endsLine = text.endsWith(QLatin1Char('\n'));
    if (endsLine)
        text.chop(1);
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(kindColour(line.kind));
    if (m_lineEnded)
        cursor.insertBlock();
    cursor.insertText(text, format);
    m_lineEnded = endsLine;
}

void LogView::trim()
{
    if (lineCount() <= kMaxLines)
        return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, kLinesDropped);
    cursor.removeSelectedText();
}

void LogView::copySelected()
{
    copy();
}

void LogView::copyAll()
{
    QApplication::clipboard()->setText(toPlainText());
}

void LogView::clearLog()
{
    clear();
    m_lineEnded = false;
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.setAccessibleName(QStringLiteral("Log menu"));
    QAction* copySelection = menu.addAction(QStringLiteral("&Copy Selected"), this, &LogView::copySelected);
    copySelection->setEnabled(textCursor().hasSelection());
    menu.addAction(QStringLiteral("Copy All"), this, &LogView::copyAll);
    menu.addAction(QStringLiteral("Clear Log"), this, &LogView::clearLog);
    menu.exec(event->globalPos());
}
