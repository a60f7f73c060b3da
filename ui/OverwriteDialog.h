#pragma once
// "Overwrite Confirmation": what to do with a transfer whose destination exists. With a
// count-down it picks the suggested action by itself when the time is up. Escape or
// closing the window means Skip.

#include "session/SessionUi.h"

#include <QDialog>
#include <QString>
#include <QTimer>

class QCheckBox;
class QPushButton;

// "Skip", "Resume", "Overwrite"; empty for any other action.
QString OverwriteActionName(int action);

class OverwriteDialog : public QDialog {
    Q_OBJECT
public:
    enum Action { Skip = 0, Resume = 1, Overwrite = 2, Auto = 3 };

    // countDownSeconds <= 0: no count-down, the user decides.
    OverwriteDialog(const COverwriteQuestion& question, int countDownSeconds, QWidget* parent = nullptr);

    COverwriteAnswer answer() const { return m_answer; }
    int secondsLeft() const { return m_secondsLeft; }
    QPushButton* button(Action action) const { return m_buttons[action]; }

    void reject() override;

private:
    void choose(int action);
    void tick();
    void updateCaption();

    COverwriteQuestion m_question;
    COverwriteAnswer m_answer;
    QPushButton* m_buttons[4] = {};
    QCheckBox* m_applyToAll = nullptr;
    QTimer m_timer;
    int m_secondsLeft = 0;
};
