#pragma once
// One site's log: read-only plain text, each kind of line in its colour after its prefix.
// Server text is only ever shown as plain text. Holding more than 300 lines, the log drops
// its oldest 100 before it adds the next piece; the lines that stay keep their colours.

#include "session/SessionUi.h"

#include <QColor>
#include <QPlainTextEdit>

#include <vector>

class LogView : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 300;
    static constexpr int kLinesDropped = 100;

    explicit LogView(QWidget* parent = nullptr);

    static QColor kindColour(int kind);

    void addLine(const CLogLine& line);
    void addLines(const std::vector<CLogLine>& lines);
    // The log's lines (without the pending line end of the last one).
    int lineCount() const;

    // The context menu's commands.
    void copySelected();
    void copyAll();
    void clearLog();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void append(const CLogLine& line);
    void trim();

    // The last piece ended its line; the next one starts a new one.
    bool m_lineEnded = false;
};
