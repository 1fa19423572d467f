// CKx2AviDlg: "Kx2Avi", the KX-to-AVI window (input and output names, Browse, Convert, the
// hint, the log list, Close), and in its MP4 form "Export to MP4" (a quality in place of the
// compressor). The conversion runs on a worker thread with a progress bar and a Cancel button;
// a cancelled conversion leaves no file. CCompressorDlg is the compressor choice over the AVI
// writer's list.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/avi_file.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSpinBox;

namespace kx {

class AviExport;
class Mp4Export;

enum class ExportFormat { Avi, Mp4 };

// The output name proposed for an input: its extension replaced by "avi" or "mp4".
std::string proposeExportName(const std::string& input, ExportFormat format);

// A compressor and, for one that has a quality setting, the quality chosen.
struct CompressorChoice {
    std::string name;
    std::optional<int> quality;
};

class CCompressorDlg : public QDialog {
public:
    explicit CCompressorDlg(QWidget* parent = nullptr);
    // The chosen compressor, or nothing when cancelled.
    static std::optional<CompressorChoice> choose(QWidget* parent);
    CompressorChoice chosen() const;

private:
    void showQuality();

    QListWidget* m_list = nullptr;
    QLabel* m_qualityLabel = nullptr;
    QSpinBox* m_quality = nullptr;
    std::vector<AviCompressor> m_compressors;
};

class CKx2AviDlg : public QDialog {
public:
    CKx2AviDlg(const std::string& input, ExportFormat format, QWidget* parent = nullptr);
    ~CKx2AviDlg() override;

    // Buttons and fields, for the user and the tests.
    void browse();
    void convert();
    void cancel();
    bool running() const { return m_worker.joinable(); }
    QLineEdit* inputField() const { return m_input; }
    QLineEdit* outputField() const { return m_output; }
    QListWidget* log() const { return m_log; }
    QProgressBar* progress() const { return m_progress; }
    // For tests: the compressor used instead of asking (empty: ask).
    void setCompressorForTests(std::string name) { m_fixedCompressor = std::move(name); }

    void appendLog(const QString& line);

protected:
    void reject() override;

private:
    void finished();
    void setRunning(bool running);

    ExportFormat m_format;
    QLineEdit* m_input = nullptr;
    QLineEdit* m_output = nullptr;
    QSpinBox* m_quality = nullptr;
    QListWidget* m_log = nullptr;
    QProgressBar* m_progress = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_convert = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_close = nullptr;
    std::unique_ptr<AviExport> m_avi;
    std::unique_ptr<Mp4Export> m_mp4;
    std::thread m_worker;
    std::string m_fixedCompressor;
};

}  // namespace kx
