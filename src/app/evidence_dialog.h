#pragma once

// "Export Evidence...": asks for the range, the channels, the working copy and
// the folder, then makes the package with the evidence library on a thread of
// its own; the dialog only shows progress, offers cancel and ends with the
// folder, a summary and the package's seal.

#include <QDialog>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "evidence/evidence_package.h"
#include "platform/audio_format.h"
#include "platform/video_format.h"

class QCheckBox;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tv {

class CViewerDlg;

// The two marks the user sets while playing: seconds since 1970 UTC.
struct EvidenceMarks {
    bool hasIn = false;
    bool hasOut = false;
    uint32_t in = 0;
    uint32_t out = 0;
};

// What the dialog starts from.
struct EvidenceRequest {
    std::string source;
    bool disk = false;
    int videoFormat = VF_QZB2;
    int audioFormat = kAudioAlaw;
    uint32_t recordingChannels = 0xFF; // the channels offered
    uint32_t shownChannels = 0xFF;     // the ones ticked
    uint32_t fromUtc = 0;
    uint32_t toUtc = 0;
    long bias = 0; // the times are shown in local standard time
    std::string folder;
};

class CEvidenceDialog : public QDialog {
    Q_OBJECT
public:
    explicit CEvidenceDialog(const EvidenceRequest& request, QWidget* parent = nullptr);
    ~CEvidenceDialog() override;

    // The options as the controls stand.
    evidence::PackageOptions Options() const;
    // Starts the package (the Start button); 0 when the controls are refused.
    int Start();
    bool Running() const { return m_thread.joinable(); }
    bool Finished() const { return m_finished; }
    bool Succeeded() const { return m_ok; }
    QString SummaryText() const;
    QPushButton* StartButton() const { return m_start; }
    QPushButton* CancelButton() const { return m_cancelButton; }
    QLineEdit* FolderEdit() const { return m_folder; }
    QLineEdit* SealEdit() const { return m_seal; }

public slots:
    void reject() override;

private:
    void Poll();
    void BrowseFolder();

    EvidenceRequest m_request;
    QDateTimeEdit* m_from = nullptr;
    QDateTimeEdit* m_to = nullptr;
    QCheckBox* m_channels[16] = {};
    QComboBox* m_working = nullptr;
    QCheckBox* m_stills = nullptr;
    QCheckBox* m_hashSource = nullptr;
    QLineEdit* m_folder = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_stage = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_sealNote = nullptr;
    QLineEdit* m_seal = nullptr; // read only, shown when a package is made
    QPushButton* m_start = nullptr;
    QPushButton* m_cancelButton = nullptr;
    QTimer m_poll;

    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<uint64_t> m_doneUnits{0};
    std::atomic<uint64_t> m_totalUnits{0};
    std::mutex m_lock; // guards the stage text and the result
    std::string m_stageText;
    evidence::PackageResult m_result;
    bool m_finished = false;
    bool m_ok = false;
};

// The window's evidence commands: mark in, mark out and Export Evidence.
void RunEvidenceCommand(CViewerDlg& dlg, int id, EvidenceMarks& marks);

} // namespace tv
