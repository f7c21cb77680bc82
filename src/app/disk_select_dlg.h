#pragma once

#include "media/disk_list.h"

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QListWidget;

namespace tv {

// "Disk Select": the recorder disks attached to this machine, one per line.
class CDiskSelectDlg : public QDialog {
    Q_OBJECT
public:
    // The disks of this machine.
    explicit CDiskSelectDlg(QWidget* parent = nullptr);
    // The given entries; emptyReason is shown when there are none.
    CDiskSelectDlg(QWidget* parent, std::vector<DiskEntry> entries,
                   const std::string& emptyReason = {});
    // After OK: the selected drive's path (the first when none was picked);
    // empty when the list is empty.
    std::string GetDrivePath() const;
    QListWidget* List() const { return m_list; }
    // The line that says why the list is empty; hidden when it is not.
    QLabel* EmptyNote() const { return m_note; }

private:
    std::vector<DiskEntry> m_entries;
    QListWidget* m_list;
    QLabel* m_note;
    int m_selected = 0;
};

// Runs the dialog; the chosen drive's path, or empty.
std::string RunDiskSelectDialog(QWidget* owner);

} // namespace tv
