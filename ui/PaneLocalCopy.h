#pragma once
// A copy (or, with Alt held, a move) of local entries into a local folder, run on a
// worker thread so a large file never stalls the window. Every file is written under
// "NAME.tvpart" and takes its final name only once it is complete and flushed; an
// existing file is replaced only after the overwrite question said so. Progress and the
// questions reach the window as queued calls; the worker waits on the answer without a
// nested event loop, and a cancel or the job's end answers a pending question with Skip.

#include "session/SessionUi.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class PaneLocalCopy : public QObject {
    Q_OBJECT
public:
    struct Item {
        std::string source; // full path
        std::string name;   // its name in the target folder
    };

    PaneLocalCopy(std::vector<Item> items, std::string targetFolder, bool move, QObject* parent = nullptr);
    // Cancels, answers a pending question with Skip and waits for the worker.
    ~PaneLocalCopy() override;

    void start();
    void cancel();
    // The answer to the question last asked through overwriteQuestion().
    void answer(const COverwriteAnswer& answer);

    bool isMove() const { return m_move; }
    const std::string& targetFolder() const { return m_targetFolder; }

signals:
    // Bytes copied so far of the total, and the name being copied.
    void progress(qint64 done, qint64 total, const QString& name);
    // The target exists: answer() with Skip or Overwrite (Auto and Resume count as given
    // in the question).
    void overwriteQuestion(const COverwriteQuestion& question);
    // The end; errors holds one line per entry that could not be copied.
    void finished(const QString& errors, bool cancelled);

private:
    class Run;
    void work();
    COverwriteAnswer ask(const COverwriteQuestion& question);
    void post(qint64 done, qint64 total, const std::string& name);

    std::vector<Item> m_items;
    std::string m_targetFolder;
    bool m_move;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::optional<COverwriteAnswer> m_answer;
    bool m_asking = false;
    // An answer given "for all" (worker thread only).
    std::optional<COverwriteAnswer> m_applyToAll;
    std::thread m_thread;
};
