#include "app/disk_select_dlg.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace tv {

CDiskSelectDlg::CDiskSelectDlg(QWidget* parent) : CDiskSelectDlg(parent, {}, {}) {
    std::string why;
    m_entries = EnumerateDisks("/sys/block", "/dev", &why);
    for (const DiskEntry& e : m_entries) {
        m_list->addItem(QString::fromStdString(e.line));
    }
    m_note->setText(QString::fromStdString(why));
    m_note->setVisible(m_entries.empty());
}

CDiskSelectDlg::CDiskSelectDlg(QWidget* parent, std::vector<DiskEntry> entries,
                               const std::string& emptyReason)
    : QDialog(parent), m_entries(std::move(entries)) {
    setWindowTitle(QStringLiteral("Disk Select"));
    auto* layout = new QVBoxLayout(this);
    m_list = new QListWidget(this);
    m_list->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    for (const DiskEntry& e : m_entries) {
        m_list->addItem(QString::fromStdString(e.line));
    }
    m_list->setMinimumWidth(320);
    layout->addWidget(m_list);
    // Without it an empty list looks like a fault of the dialog.
    m_note = new QLabel(
        QString::fromStdString(emptyReason.empty() ? "No disk found." : emptyReason), this);
    m_note->setWordWrap(true);
    m_note->setVisible(m_entries.empty());
    layout->addWidget(m_note);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(m_entries.size())) {
            m_selected = row;
        }
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::string CDiskSelectDlg::GetDrivePath() const {
    return m_entries.empty() ? std::string() : tv::GetDrivePath(m_entries, m_selected);
}

std::string RunDiskSelectDialog(QWidget* owner) {
    CDiskSelectDlg dlg(owner);
    if (dlg.exec() != QDialog::Accepted) {
        return {};
    }
    return dlg.GetDrivePath();
}

} // namespace tv
