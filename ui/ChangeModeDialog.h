#pragma once
// "Change Permission": read, write and execute for user, group and others, as the three
// octal digits the server's SITE CHMOD takes ("755").

#include <QDialog>

#include <array>
#include <string>

class QCheckBox;

class ChangeModeDialog : public QDialog {
    Q_OBJECT
public:
    // `attribute`: the entry's permission text ("drwxr-xr-x"), used to preset the boxes.
    explicit ChangeModeDialog(const std::string& attribute, QWidget* parent = nullptr);
    std::string modeText() const;
    // [who][what]: who 0 user, 1 group, 2 others; what 0 read, 1 write, 2 execute.
    QCheckBox* box(int who, int what) const { return m_boxes[std::size_t(who * 3 + what)]; }

private:
    std::array<QCheckBox*, 9> m_boxes{};
};
