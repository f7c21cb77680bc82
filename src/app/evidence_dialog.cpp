#include "app/evidence_dialog.h"

#include "app/commands.h"
#include "app/viewer_dlg.h"
#include "media/qzf_block.h"
#include "platform/notifier.h"
#include "platform/system.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace tv {

namespace {

// Local standard time has no daylight saving time: the edits show plain
// fields, kept as UTC so that Qt applies no zone of its own.
QDateTime ToEdit(uint32_t utc, long bias) {
    const SYSTEMTIME t = BlockTimeToLocal(utc, bias);
    return QDateTime(QDate(t.wYear, t.wMonth, t.wDay), QTime(t.wHour, t.wMinute, t.wSecond),
                     Qt::UTC);
}

int64_t FromEdit(const QDateTime& d, long bias) {
    SYSTEMTIME t{};
    t.wYear = uint16_t(d.date().year());
    t.wMonth = uint16_t(d.date().month());
    t.wDay = uint16_t(d.date().day());
    t.wHour = uint16_t(d.time().hour());
    t.wMinute = uint16_t(d.time().minute());
    t.wSecond = uint16_t(d.time().second());
    return LocalToBlockTime(t, bias);
}

} // namespace

CEvidenceDialog::CEvidenceDialog(const EvidenceRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    setWindowTitle(QStringLiteral("Export Evidence"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_from = new QDateTimeEdit(ToEdit(request.fromUtc, request.bias), this);
    m_to = new QDateTimeEdit(ToEdit(request.toUtc, request.bias), this);
    for (QDateTimeEdit* e : {m_from, m_to}) {
        e->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
        e->setTimeSpec(Qt::UTC);
    }
    form->addRow(QStringLiteral("From:"), m_from);
    form->addRow(QStringLiteral("To:"), m_to);
    auto* grid = new QGridLayout;
    for (int c = 0; c < 16; ++c) {
        if (!(request.recordingChannels & (1u << c))) {
            continue;
        }
        m_channels[c] = new QCheckBox(QStringLiteral("CH%1").arg(c + 1), this);
        m_channels[c]->setChecked((request.shownChannels & (1u << c)) != 0);
        grid->addWidget(m_channels[c], c / 8, c % 8);
    }
    form->addRow(QStringLiteral("Channels:"), grid);
    m_working = new QComboBox(this);
    m_working->addItem(QStringLiteral("AVI, as the split view shows it"));
    m_working->addItem(QStringLiteral("None (master only)"));
    form->addRow(QStringLiteral("Working copy:"), m_working);
    m_stills = new QCheckBox(QStringLiteral("A still per channel at the start"), this);
    form->addRow(QString(), m_stills);
    m_hashSource =
        new QCheckBox(QStringLiteral("Hash the whole source too (slow for a disk)"), this);
    form->addRow(QString(), m_hashSource);
    auto* folderRow = new QHBoxLayout;
    m_folder = new QLineEdit(QString::fromStdString(request.folder), this);
    m_folder->setMinimumWidth(320);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    folderRow->addWidget(m_folder);
    folderRow->addWidget(browse);
    form->addRow(QStringLiteral("New folder:"), folderRow);
    layout->addLayout(form);
    m_stage = new QLabel(this);
    m_progress = new QProgressBar(this);
    m_progress->setRange(0, 1000);
    m_progress->setValue(0);
    m_summary = new QLabel(this);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_summary->setWordWrap(true);
    layout->addWidget(m_stage);
    layout->addWidget(m_progress);
    layout->addWidget(m_summary);
    // The seal, to copy whole: only a copy kept away from the package shows
    // later that the package was not re-written with fresh hashes.
    m_sealNote = new QLabel(
        QStringLiteral(
            "Seal (keep it apart from the package: note it down or send it on its own):"),
        this);
    m_sealNote->setWordWrap(true);
    m_seal = new QLineEdit(this);
    m_seal->setReadOnly(true);
    m_sealNote->hide();
    m_seal->hide();
    layout->addWidget(m_sealNote);
    layout->addWidget(m_seal);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_start = new QPushButton(QStringLiteral("Start"), this);
    m_start->setDefault(true);
    m_cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    buttons->addWidget(m_start);
    buttons->addWidget(m_cancelButton);
    layout->addLayout(buttons);

    connect(browse, &QPushButton::clicked, this, [this] { BrowseFolder(); });
    connect(m_start, &QPushButton::clicked, this, [this] {
        if (m_finished) {
            accept();
        } else {
            Start();
        }
    });
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { reject(); });
    m_poll.setInterval(100);
    connect(&m_poll, &QTimer::timeout, this, [this] { Poll(); });
}

CEvidenceDialog::~CEvidenceDialog() {
    m_cancel = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

evidence::PackageOptions CEvidenceDialog::Options() const {
    evidence::PackageOptions o;
    o.source = m_request.source;
    o.disk = m_request.disk;
    o.videoFormat = m_request.videoFormat;
    o.audioFormat = m_request.audioFormat;
    o.fromUtc = FromEdit(m_from->dateTime(), m_request.bias);
    o.toUtc = FromEdit(m_to->dateTime(), m_request.bias);
    for (int c = 0; c < 16; ++c) {
        if (m_channels[c] && m_channels[c]->isChecked()) {
            o.channels |= 1u << c;
        }
    }
    o.working = m_working->currentIndex() == 0;
    o.stills = m_stills->isChecked();
    o.hashSource = m_hashSource->isChecked();
    o.outDir = m_folder->text().trimmed().toStdString();
    o.tool = "Tessavin Viewer";
    return o;
}

int CEvidenceDialog::Start() {
    if (m_thread.joinable() || m_finished) {
        return 0;
    }
    const evidence::PackageOptions o = Options();
    if (o.channels == 0) {
        m_summary->setText(QStringLiteral("Choose at least one channel."));
        return 0;
    }
    if (o.outDir.empty() || o.outDir[0] != '/') {
        m_summary->setText(QStringLiteral("Choose a new folder (a full path) for the package."));
        return 0;
    }
    if (o.fromUtc >= o.toUtc) {
        m_summary->setText(QStringLiteral("The range must end after it starts."));
        return 0;
    }
    for (QWidget* w : findChildren<QWidget*>()) {
        if (w != m_cancelButton && w != m_progress && w != m_stage && w != m_summary) {
            w->setEnabled(false);
        }
    }
    m_summary->clear();
    m_cancel = false;
    m_done = false;
    m_thread = std::thread([this, o] {
        evidence::PackageResult r;
        auto progress = [this](const std::string& stage, uint64_t done, uint64_t total) {
            {
                std::lock_guard lk(m_lock);
                m_stageText = stage;
            }
            m_totalUnits = total;
            m_doneUnits = done;
        };
        const int ok = evidence::MakeEvidencePackage(o, progress, &m_cancel, &r);
        {
            std::lock_guard lk(m_lock);
            m_result = r;
            m_ok = ok == 1;
        }
        m_done = true;
    });
    m_poll.start();
    return 1;
}

void CEvidenceDialog::Poll() {
    {
        std::lock_guard lk(m_lock);
        m_stage->setText(QString::fromStdString(m_stageText));
    }
    const uint64_t total = m_totalUnits, done = m_doneUnits;
    m_progress->setValue(total ? int(done * 1000 / total) : 0);
    if (!m_done) {
        return;
    }
    m_poll.stop();
    m_thread.join();
    m_finished = true;
    std::lock_guard lk(m_lock);
    m_summary->setText(SummaryText());
    m_stage->setText(m_ok ? QStringLiteral("Done") : QStringLiteral("No package made"));
    m_progress->setValue(m_ok ? 1000 : 0);
    if (m_ok) {
        m_seal->setText(QString::fromStdString(m_result.seal));
        m_seal->setEnabled(true);
        m_sealNote->setEnabled(true);
        m_sealNote->show();
        m_seal->show();
    }
    m_start->setText(QStringLiteral("Close"));
    m_start->setEnabled(true);
    m_cancelButton->setEnabled(false);
}

QString CEvidenceDialog::SummaryText() const {
    if (!m_finished) {
        return QString();
    }
    if (!m_ok) {
        return QStringLiteral("No package was made: %1")
            .arg(QString::fromStdString(m_result.error));
    }
    return QStringLiteral("Folder: %1\n%2")
        .arg(QString::fromStdString(m_result.folder), QString::fromStdString(m_result.summary));
}

void CEvidenceDialog::reject() {
    if (m_thread.joinable()) {
        // Cancel removes what was made; the dialog stays to say so.
        m_cancel = true;
        m_cancelButton->setEnabled(false);
        m_stage->setText(QStringLiteral("Cancelling..."));
        return;
    }
    QDialog::reject();
}

void CEvidenceDialog::BrowseFolder() {
    const QString parent = QFileDialog::getExistingDirectory(
        this, QStringLiteral("Where the package folder goes"), QDir::homePath());
    if (!parent.isEmpty()) {
        const QString name = QFileInfo(m_folder->text()).fileName();
        m_folder->setText(
            QDir(parent).filePath(name.isEmpty() ? QStringLiteral("evidence") : name));
    }
}

void RunEvidenceCommand(CViewerDlg& dlg, int id, EvidenceMarks& marks) {
    CPlayerEngine& engine = dlg.Engine();
    SYSTEMTIME now{};
    const bool haveTime = engine.GetFrameTime(&now) != 0;
    const long bias = GetTimeZoneBias();
    const int64_t nowUtc = haveTime ? LocalToBlockTime(now, bias) : -1;
    if (id == kCommandMarkIn || id == kCommandMarkOut) {
        if (nowUtc < 0) {
            return;
        }
        (id == kCommandMarkIn ? marks.hasIn : marks.hasOut) = true;
        (id == kCommandMarkIn ? marks.in : marks.out) = uint32_t(nowUtc);
        dlg.ShowNote(QStringLiteral("%1 %2").arg(
            id == kCommandMarkIn ? QStringLiteral("Mark in") : QStringLiteral("Mark out"),
            QString::fromStdString(evidence::FormatPackageTime(uint32_t(nowUtc), false, bias))));
        return;
    }
    if (!engine.IsStreamOpen()) {
        return;
    }
    EvidenceRequest r;
    r.source = engine.GetStreamPath();
    r.disk = dlg.SourceDiskMode() != 0;
    r.videoFormat = dlg.VideoFormat();
    r.audioFormat = dlg.AudioFormat();
    r.bias = bias;
    const uint32_t mask = engine.GetChannelMask() & 0xFFFFu;
    r.recordingChannels = mask ? mask : 0xFFu;
    int split = 1, page = 0;
    engine.GetSplit(&split, &page);
    uint32_t shown = 0;
    for (int c = page * split; c < (page + 1) * split && c < 16; ++c) {
        shown |= 1u << c;
    }
    r.shownChannels = shown & r.recordingChannels;
    if (marks.hasIn && marks.hasOut && marks.in < marks.out) {
        r.fromUtc = marks.in;
        r.toUtc = marks.out;
    } else {
        r.fromUtc = uint32_t(nowUtc > 0 ? nowUtc : 0);
        r.toUtc = r.fromUtc + 60;
    }
    const SYSTEMTIME t = BlockTimeToLocal(r.fromUtc, bias);
    char name[64];
    std::snprintf(name, sizeof(name), "evidence-%04u%02u%02u-%02u%02u%02u", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond);
    r.folder = QDir(QDir::homePath()).filePath(QString::fromLatin1(name)).toStdString();
    if (dlg.Prompts().exportEvidence) {
        dlg.Prompts().exportEvidence(r);
    }
}

} // namespace tv
