#pragma once
// "Cache Directory": asks before a folder of a site (or the whole server) is walked and
// every folder beneath it written to the directory cache. The folder is the one the
// command was chosen for; "Queue Only" queues the walk without starting the queue.

#include <QDialog>

class QCheckBox;

class PaneCacheDialog : public QDialog {
    Q_OBJECT
public:
    // `listsLive`: "Always Online" is on, so every folder is listed again even when cached.
    PaneCacheDialog(const QString& folder, bool listsLive, QWidget* parent = nullptr);

    bool queueOnly() const;

private:
    QCheckBox* m_queueOnly;
};
