#pragma once
// What a drag out of a file pane carries: the pane it started in (so a drop inside the
// program becomes a transfer between the two panes) besides the URLs or file paths other
// programs understand.

#include <QMimeData>
#include <QPointer>

class FilePane;

class PaneDragData : public QMimeData {
    Q_OBJECT
public:
    explicit PaneDragData(FilePane* source) : m_source(source) {}
    FilePane* source() const { return m_source.data(); }

private:
    QPointer<FilePane> m_source;
};
