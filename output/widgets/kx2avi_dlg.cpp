// The export windows: fields, Browse and the name proposal, Convert on a worker thread (its log
// lines and progress posted back to the window), Cancel, and the compressor choice.
#include "output/widgets/kx2avi_dlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "output/avi_export.h"
#include "output/mp4_export.h"
#include "platform/avi_file.h"

namespace kx {
namespace {

constexpr int kVisibleLogLines = 9;

}  // namespace

std::string proposeExportName(const std::string& input, ExportFormat format) {
    const std::string avi = proposeAviName(input);
    if (format == ExportFormat::Avi || avi.empty()) return avi;
    return avi.substr(0, avi.size() - 3) + "mp4";
}

CCompressorDlg::CCompressorDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Video Compression"));
    m_list = new QListWidget(this);
    m_list->setAccessibleName(QStringLiteral("Compressor"));
    m_compressors = aviCompressors();
    for (const AviCompressor& compressor : m_compressors)
        new QListWidgetItem(QString::fromStdString(compressor.description), m_list);
    m_qualityLabel = new QLabel(this);
    m_quality = new QSpinBox(this);
    m_qualityLabel->setBuddy(m_quality);
    connect(m_list, &QListWidget::currentRowChanged, this, [this] { showQuality(); });
    m_list->setCurrentRow(0);
    showQuality();
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Compressor:"), this));
    layout->addWidget(m_list);
    auto* quality = new QHBoxLayout;
    quality->addWidget(m_qualityLabel);
    quality->addWidget(m_quality);
    layout->addLayout(quality);
    layout->addLayout(buttons);
}

// The quality control follows the compressor: its range and standard value, or greyed.
void CCompressorDlg::showQuality() {
    const int row = m_list->currentRow();
    const AviCompressor* compressor = row >= 0 && size_t(row) < m_compressors.size() ? &m_compressors[size_t(row)] : nullptr;
    if (!compressor || !compressor->quality) {
        m_qualityLabel->setText(QStringLiteral("Quality:"));
        m_quality->setEnabled(false);
        m_quality->setSpecialValueText(QStringLiteral("none"));
        m_quality->setRange(0, 0);
        m_quality->setAccessibleName(QStringLiteral("Quality"));
        return;
    }
    const AviQuality& range = *compressor->quality;
    m_qualityLabel->setText(QString::fromStdString(range.label) + QStringLiteral(":"));
    m_quality->setSpecialValueText(QString());
    m_quality->setRange(range.best, range.smallest);
    m_quality->setValue(range.standard);
    m_quality->setEnabled(true);
    m_quality->setAccessibleName(QString::fromStdString(range.label));
}

CompressorChoice CCompressorDlg::chosen() const {
    const int row = m_list->currentRow();
    if (row < 0 || size_t(row) >= m_compressors.size()) return {};
    const AviCompressor& compressor = m_compressors[size_t(row)];
    CompressorChoice choice{compressor.name, std::nullopt};
    if (compressor.quality) choice.quality = m_quality->value();
    return choice;
}

std::optional<CompressorChoice> CCompressorDlg::choose(QWidget* parent) {
    CCompressorDlg dialog(parent);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen().name.empty()) return std::nullopt;
    return dialog.chosen();
}

CKx2AviDlg::CKx2AviDlg(const std::string& input, ExportFormat format, QWidget* parent)
    : QDialog(parent), m_format(format) {
    const bool avi = format == ExportFormat::Avi;
    setWindowTitle(avi ? QStringLiteral("Kx2Avi") : QStringLiteral("Export to MP4"));
    m_input = new QLineEdit(QString::fromStdString(input), this);
    m_output = new QLineEdit(QString::fromStdString(proposeExportName(input, format)), this);
    auto* inputLabel = new QLabel(QStringLiteral("Input Kx File:"), this);
    auto* outputLabel =
        new QLabel(avi ? QStringLiteral("Output Avi File:") : QStringLiteral("Output MP4 File:"), this);
    m_input->setAccessibleName(inputLabel->text());
    m_output->setAccessibleName(outputLabel->text());
    m_browse = new QPushButton(QStringLiteral("Browse..."), this);
    m_convert = new QPushButton(avi ? QStringLiteral("Convert") : QStringLiteral("Export"), this);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_close = new QPushButton(QStringLiteral("Close"), this);
    for (QPushButton* button : {m_browse, m_convert, m_cancel, m_close})
        button->setAccessibleName(button->text());
    m_log = new QListWidget(this);
    m_log->setAccessibleName(QStringLiteral("Log"));
    m_progress = new QProgressBar(this);
    m_progress->setAccessibleName(QStringLiteral("Progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    auto* fields = new QGridLayout;
    fields->addWidget(inputLabel, 0, 0);
    fields->addWidget(m_input, 0, 1);
    fields->addWidget(m_browse, 0, 2);
    fields->addWidget(outputLabel, 1, 0);
    fields->addWidget(m_output, 1, 1);
    fields->addWidget(m_convert, 1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    if (avi) {
        layout->addWidget(new QLabel(
            QStringLiteral("Select the Intel Indeo or Full Frame(Uncompressed) video format by "
                           "suggestion."),
            this));
    } else {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(QStringLiteral("Quality (0 best .. 51):"), this);
        m_quality = new QSpinBox(this);
        m_quality->setRange(0, 51);
        m_quality->setValue(kDefaultMp4Quality);
        m_quality->setAccessibleName(label->text());
        row->addWidget(label);
        row->addWidget(m_quality);
        row->addStretch();
        layout->addLayout(row);
    }
    layout->addWidget(m_log);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_progress, 1);
    bottom->addWidget(m_cancel);
    bottom->addWidget(m_close);
    layout->addLayout(bottom);
    resize(520, 320);

    connect(m_browse, &QPushButton::clicked, this, &CKx2AviDlg::browse);
    connect(m_convert, &QPushButton::clicked, this, &CKx2AviDlg::convert);
    connect(m_cancel, &QPushButton::clicked, this, &CKx2AviDlg::cancel);
    connect(m_close, &QPushButton::clicked, this, &CKx2AviDlg::reject);
    setRunning(false);
}

CKx2AviDlg::~CKx2AviDlg() {
    cancel();
    if (m_worker.joinable()) m_worker.join();
}

void CKx2AviDlg::setRunning(bool running) {
    m_browse->setEnabled(!running);
    m_convert->setEnabled(!running);
    m_input->setReadOnly(running);
    m_output->setReadOnly(running);
    m_cancel->setEnabled(running);
    m_close->setEnabled(!running);
}

void CKx2AviDlg::appendLog(const QString& line) {
    m_log->addItem(line);
    // Past nine lines the list scrolls so that the last ones stay visible.
    if (m_log->count() > kVisibleLogLines) m_log->scrollToBottom();
}

void CKx2AviDlg::browse() {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setNameFilters({QStringLiteral("Video files(*.kx)"), QStringLiteral("Video files(*.kxx)"),
                           QStringLiteral("Video files(*.kxz)"), QStringLiteral("Video files(*.kxq)"),
                           QStringLiteral("Video files(*.ckx)")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    // The name as chosen: names on this system differ by case.
    const std::string input = dialog.selectedFiles().first().toStdString();
    m_input->setText(QString::fromStdString(input));
    m_output->setText(QString::fromStdString(proposeExportName(input, m_format)));
}

void CKx2AviDlg::convert() {
    if (m_worker.joinable()) return;
    const std::string input = m_input->text().toStdString();
    const std::string output = m_output->text().toStdString();
    // Log lines and progress come from the worker: posted to the window's thread.
    QPointer<CKx2AviDlg> self(this);
    const auto log = [self](const std::string& line) {
        QMetaObject::invokeMethod(
            self, [self, text = QString::fromStdString(line)] {
                if (self) self->appendLog(text);
            },
            Qt::QueuedConnection);
    };
    const auto progress = [self](uint32_t frame, uint32_t total) {
        const int percent = total == 0 ? 100 : int(uint64_t(frame) * 100 / total);
        QMetaObject::invokeMethod(
            self, [self, percent] {
                if (self) self->m_progress->setValue(percent);
            },
            Qt::QueuedConnection);
    };
    m_progress->setValue(0);
    if (m_format == ExportFormat::Avi) {
        m_avi = std::make_unique<AviExport>(
            [this](const std::string& line) { appendLog(QString::fromStdString(line)); });
        if (!m_avi->Open(input, output)) return;
        std::optional<CompressorChoice> compressor =
            m_fixedCompressor.empty() ? CCompressorDlg::choose(this)
                                      : std::optional<CompressorChoice>(CompressorChoice{m_fixedCompressor, std::nullopt});
        if (!compressor) {
            m_avi->Abandon();  // cancelled: no message
            return;
        }
        // From here the lines come from the worker.
        m_avi->SetLog(log, progress);
        setRunning(true);
        m_worker = std::thread([this, choice = *compressor, self] {
            m_avi->Run(choice.name, choice.quality);
            QMetaObject::invokeMethod(
                self, [self] {
                    if (self) self->finished();
                },
                Qt::QueuedConnection);
        });
        return;
    }
    m_mp4 = std::make_unique<Mp4Export>(log, progress);
    setRunning(true);
    m_worker = std::thread([this, input, output, quality = m_quality->value(), self] {
        m_mp4->Export(input, output, quality);
        QMetaObject::invokeMethod(
            self, [self] {
                if (self) self->finished();
            },
            Qt::QueuedConnection);
    });
}

void CKx2AviDlg::finished() {
    if (m_worker.joinable()) m_worker.join();
    setRunning(false);
}

void CKx2AviDlg::cancel() {
    if (m_avi) m_avi->Cancel();
    if (m_mp4) m_mp4->Cancel();
}

void CKx2AviDlg::reject() {
    // The window closes only when no conversion runs (Cancel first).
    if (m_worker.joinable()) return;
    QDialog::reject();
}

}  // namespace kx
