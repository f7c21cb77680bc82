#pragma once

#include <QDialog>
#include <vector>

#include "export/compressor_chooser.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QSpinBox;

namespace tv {

// "Video Compression": the compressor choice of an AVI export. Lists the
// encoders that open for the export frame on this machine, with the key-frame
// interval and data rate; Cancel makes the export's Open return 402.
class CCompressionDialog : public QDialog {
public:
    CCompressionDialog(const CompressorRequest& request, const CompressorOptions& initial,
                       QWidget* parent = nullptr);
    CompressorOptions GetOptions() const;
    // The encoders listed (for tests and for remembering the last choice).
    const std::vector<EncoderInfo>& GetEncoders() const { return m_encoders; }

private:
    void UpdateFields();

    std::vector<EncoderInfo> m_encoders;
    QComboBox* m_codec = nullptr;
    QLabel* m_details = nullptr;
    QCheckBox* m_keyFrameOn = nullptr;
    QSpinBox* m_keyFrames = nullptr;
    QCheckBox* m_dataRateOn = nullptr;
    QSpinBox* m_dataRate = nullptr;
};

// The application's compressor choice: shows the dialog modally on the calling
// (user-interface) thread and remembers the last choice for the next export.
class CDialogCompressorChooser : public ICompressorChooser {
public:
    explicit CDialogCompressorChooser(QWidget* parent = nullptr) : m_parent(parent) {}
    int Choose(const CompressorRequest& request, CompressorOptions& options) override;
    const CompressorOptions& GetLastChoice() const { return m_last; }
    void SetLastChoice(const CompressorOptions& o) { m_last = o; }

private:
    QWidget* m_parent;
    CompressorOptions m_last;
};

} // namespace tv
