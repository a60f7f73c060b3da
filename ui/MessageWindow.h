#pragma once
// "Tollvane Message": a session's notice in a read-only text box with one "OK" button.
// Shown without blocking anybody; with a count-down it hides itself when the time is up
// and counts the seconds left in its caption.

#include <QDialog>
#include <QString>
#include <QTimer>

class QPlainTextEdit;

class MessageWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kNoCountDown = -1;

    explicit MessageWindow(QWidget* parent = nullptr);

    // Puts the text in (CR characters removed) and starts the count-down, if any.
    void setMessage(const QString& title, const QString& text, int countDownSeconds);
    // setMessage, then centre, show and bring to the front.
    void showMessage(const QString& title, const QString& text, int countDownSeconds);

    QString text() const;
    int secondsLeft() const { return m_secondsLeft; }

private:
    void tick();
    void updateCaption();

    QPlainTextEdit* m_text = nullptr;
    QTimer m_timer;
    QString m_title;
    int m_secondsLeft = kNoCountDown;
};
