#include "app/compression_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tv {

CCompressionDialog::CCompressionDialog(const CompressorRequest& request,
                                       const CompressorOptions& initial, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("Video Compression"));
    {
        // Trying every encoder takes a moment.
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        m_encoders = ListAviVideoEncoders(request.width, request.height, request.bitsPerPixel);
        QGuiApplication::restoreOverrideCursor();
    }

    m_codec = new QComboBox(this);
    int current = 0;
    const std::string wanted = initial.codec.empty() ? kDefaultVideoCodec : initial.codec;
    for (size_t i = 0; i < m_encoders.size(); ++i) {
        const EncoderInfo& e = m_encoders[i];
        m_codec->addItem(QString::fromStdString(e.longName), QString::fromStdString(e.name));
        if (e.name == wanted) {
            current = static_cast<int>(i);
        }
    }
    m_codec->setCurrentIndex(current);
    m_details = new QLabel(this);

    m_keyFrameOn = new QCheckBox(QStringLiteral("&Key Frame Every"), this);
    m_keyFrames = new QSpinBox(this);
    m_keyFrames->setRange(1, 1000);
    m_keyFrames->setSuffix(QStringLiteral(" frames"));
    m_keyFrameOn->setChecked(initial.keyFrameInterval > 0);
    m_keyFrames->setValue(initial.keyFrameInterval > 0 ? initial.keyFrameInterval : 15);

    m_dataRateOn = new QCheckBox(QStringLiteral("&Data Rate"), this);
    m_dataRate = new QSpinBox(this);
    m_dataRate->setRange(16, 100000);
    m_dataRate->setSuffix(QStringLiteral(" KB/sec"));
    m_dataRateOn->setChecked(initial.dataRateKbps > 0);
    m_dataRate->setValue(initial.dataRateKbps > 0 ? initial.dataRateKbps / 8 : 300);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("&Compressor:"), m_codec);
    form->addRow(QString(), m_details);
    auto* keyRow = new QHBoxLayout;
    keyRow->addWidget(m_keyFrameOn);
    keyRow->addWidget(m_keyFrames);
    auto* rateRow = new QHBoxLayout;
    rateRow->addWidget(m_dataRateOn);
    rateRow->addWidget(m_dataRate);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!m_encoders.empty());
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(keyRow);
    layout->addLayout(rateRow);
    layout->addWidget(buttons);

    connect(m_codec, &QComboBox::currentIndexChanged, this, [this](int) { UpdateFields(); });
    connect(m_keyFrameOn, &QCheckBox::toggled, this, [this](bool) { UpdateFields(); });
    connect(m_dataRateOn, &QCheckBox::toggled, this, [this](bool) { UpdateFields(); });
    UpdateFields();
}

void CCompressionDialog::UpdateFields() {
    const int i = m_codec->currentIndex();
    const bool have = i >= 0 && i < static_cast<int>(m_encoders.size());
    const bool lossless = have && m_encoders[static_cast<size_t>(i)].lossless;
    m_details->setText(
        have ? QStringLiteral("%1%2").arg(QString::fromStdString(m_encoders[size_t(i)].name),
                                          lossless ? QStringLiteral(" (lossless)") : QString())
             : QStringLiteral("No encoder opens for this frame size."));
    // A lossless codec has no data rate to aim at.
    m_dataRateOn->setEnabled(have && !lossless);
    m_dataRate->setEnabled(have && !lossless && m_dataRateOn->isChecked());
    m_keyFrameOn->setEnabled(have);
    m_keyFrames->setEnabled(have && m_keyFrameOn->isChecked());
}

CompressorOptions CCompressionDialog::GetOptions() const {
    CompressorOptions o;
    const int i = m_codec->currentIndex();
    if (i >= 0 && i < static_cast<int>(m_encoders.size())) {
        o.codec = m_encoders[static_cast<size_t>(i)].name;
    }
    o.keyFrameInterval = m_keyFrameOn->isChecked() ? m_keyFrames->value() : 0;
    o.dataRateKbps =
        m_dataRateOn->isEnabled() && m_dataRateOn->isChecked() ? m_dataRate->value() * 8 : 0;
    return o;
}

int CDialogCompressorChooser::Choose(const CompressorRequest& request, CompressorOptions& options) {
    CCompressionDialog dialog(request, m_last, m_parent);
    if (dialog.exec() != QDialog::Accepted || dialog.GetEncoders().empty()) {
        return 0;
    }
    options = dialog.GetOptions();
    m_last = options;
    return 1;
}

} // namespace tv
