#pragma once

#include "media/disk_list.h"

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;

namespace tv {

// "Disk Select": the recorder disks attached to this machine, one per line.
class CDiskSelectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDiskSelectDlg(QWidget* parent = nullptr,
                            std::vector<DiskEntry> entries = EnumerateDisks());
    // After OK: the selected drive's path (the first when none was picked);
    // empty when the list is empty.
    std::string GetDrivePath() const;
    QListWidget* List() const { return m_list; }

private:
    std::vector<DiskEntry> m_entries;
    QListWidget* m_list;
    int m_selected = 0;
};

// Runs the dialog; the chosen drive's path, or empty.
std::string RunDiskSelectDialog(QWidget* owner);

} // namespace tv
