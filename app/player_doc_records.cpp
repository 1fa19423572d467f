// The document's records of what it shows: clip marks and clips, snapshots, and the integrity
// check with its verdicts.
#include <optional>

#include "app/document_text.h"
#include "app/player_doc.h"
#include "playback/integrity_report.h"
#include "recording/file_digest.h"
#include "recording/record_reader.h"

namespace kx {
using namespace document;

// ---- Clips ---------------------------------------------------------------------------------

bool CKorvexPlayerDoc::MarkClipStart() {
    if (!Usable()) return false;
    m_clipStartGroup = m_currentGroup;
    m_clipStartMarked = true;
    return true;
}

bool CKorvexPlayerDoc::MarkClipEnd() {
    if (!Usable()) return false;
    m_clipEndGroup = m_currentGroup;
    m_clipEndPosition = m_currentPosition;
    m_clipEndMarked = true;
    return true;
}

bool CKorvexPlayerDoc::SaveClipAs() {
    if (!m_clipStartMarked || !m_clipEndMarked) return false;
    CRecordReader* reader = m_player ? m_player->Reader() : nullptr;
    CRecordReader ownReader;
    if (!reader) {
        if (m_lastPath.empty()) return false;
        CRecordInfo header;
        if (!header.ReadInfo(m_lastPath) || !ownReader.Open(&header, kReaderModeRead, -1)) {
            m_ui.showMessage(kProgramTitle, "\"" + m_lastPath + "\" cannot be read again: " +
                                                header.LastError().text);
            m_clipStartMarked = m_clipEndMarked = false;
            return false;
        }
        reader = &ownReader;
    }
    const std::string extension = RecordingExtension(reader->Kind());
    SaveRequest request;
    request.title = "Save clip";
    request.filter = "Kx Files (*" + extension + ")|*" + extension + "||";
    request.defaultExtension = extension.substr(1);
    request.proposedPath = folderOf(reader->Path()) + baseNameOf(reader->Path()) + "_clip" + extension;
    const int32_t startGroup = m_clipStartGroup;
    const int32_t endGroup = m_clipEndGroup;
    const int32_t endPosition = m_clipEndPosition;
    m_clipStartMarked = m_clipEndMarked = false;
    m_clipStartGroup = m_clipEndGroup = m_clipEndPosition = 0;

    std::optional<std::string> path = m_ui.askSavePath(request);
    if (!path || path->empty()) return false;
    // A clip opens again only under the extension of its kind.
    if (!endsWithIgnoringCase(*path, extension)) *path += extension;
    // The dialog may have run a nested loop in which the recording was closed.
    if (reader != &ownReader && (!m_player || m_player->Reader() != reader)) return false;
    if (!reader->SaveClip(*path, startGroup, endGroup, endPosition)) {
        m_ui.showMessage(kProgramTitle, "The clip could not be saved to \"" + *path + "\": " +
                                            reader->LastError().text);
        return false;
    }
    m_lastClipPath = *path;
    return true;
}

bool CKorvexPlayerDoc::PlayLastClip() {
    if (m_lastClipPath.empty() || m_checking) return false;
    return OpenRecording(m_lastClipPath);
}

// ---- Snapshot ------------------------------------------------------------------------------

bool CKorvexPlayerDoc::TakeSnapshot() {
    if (m_checking || !m_player || !m_target || !m_player->Reader()) return false;
    const bool wasPlaying = !m_player->IsPaused();
    if (wasPlaying) m_player->TogglePause();

    PictureFile snapshot;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
    if (!m_target->CopyPicture(pixels, width, height)) {
        UpdateStatusTitle();
        return false;  // nothing to write; playback stays paused
    }
    snapshot.setPixels(width, height, std::move(pixels));
    snapshot.setHostName(m_info.HostName());
    snapshot.setBoardName(m_info.BoardName());
    snapshot.setCameraName(m_info.CameraName());
    snapshot.setTime(m_currentFrameTime);
    snapshot.setGmtOffset(m_gmtOffsetHours);

    SaveRequest request;
    request.title = "Save snapshot";
    request.filter = "Bmp Files (*.bmp)|*.bmp||";
    char frame[32];
    std::snprintf(frame, sizeof frame, "_%d-%d.bmp", m_currentGroup, m_currentPosition);
    request.proposedPath = folderOf(m_info.Path()) + baseNameOf(m_info.Path()) + frame;
    const std::optional<std::string> path = m_ui.askSavePath(request);
    bool saved = false;
    if (path) {
        saved = snapshot.save(PictureFormat::Bmp, *path);
        if (!saved)
            m_ui.showMessage(kProgramTitle, "The snapshot could not be saved to \"" + *path +
                                                "\": " + snapshot.lastError());
    }
    if (wasPlaying && m_player && m_player->IsPaused()) m_player->TogglePause();
    UpdateStatusTitle();
    return saved;
}

// ---- Integrity check -----------------------------------------------------------------------

void CKorvexPlayerDoc::Authenticate(bool on) {
    if (IsStillPicture()) return;
    if (!on) {
        if (!m_player) {
            if (!m_lastPath.empty()) OpenRecording(m_lastPath);
            return;
        }
        m_currentPosition = 0;
        m_speedLevel = 0;
        m_ui.showSpeedLevel(0);
        if (m_checking) {
            m_player->SetVerifying(false);
            FinishCheck(true);
        }
        UpdateStatusTitle();
        ApplyPendingSeek();
        return;
    }
    if (!m_player && (m_lastPath.empty() || !OpenRecording(m_lastPath))) return;
    if (m_checking) {
        m_ui.closeProgress();
        m_progressShown = false;
    }
    const CRecordReader* reader = m_player->Reader();
    m_progressShown = m_ui.openProgress(reader ? reader->TotalFrameCount() : 0);
    m_currentGroup = 0;
    m_currentPosition = 0;
    m_speedLevel = 0;
    m_ui.showSpeedLevel(0);
    m_singleStep = false;
    // A seek would skip frames of the pass, and a check that skipped frames must not pass.
    m_seekPending = false;
    m_failurePending = false;
    m_checkReachedEnd = false;
    m_checking = true;
    m_player->SetSpeed(0);
    m_player->SetVerifying(true);
    m_checkStarted = m_player && m_player->Reader();
    if (m_checkStarted) m_check.begin(*m_player->Reader());
    UpdateStatusTitle();
}

void CKorvexPlayerDoc::OnVerifyProgress(const CPlayFrame& frame) {
    if (!m_player || !m_player->Reader()) return;
    if (m_checkStarted) m_check.frameChecked(frame);
    // Frames counted so far, so that the bar reaches the total on the last frame.
    const uint32_t done =
        m_player->Reader()->FirstFrameNumber(int32_t(frame.Group()), frame.PositionInGroup()) + 1;
    if (m_progressShown) m_ui.setProgress(done);
}

void CKorvexPlayerDoc::OnIntegrityFailure(const CPlayFrame& frame) {
    if (m_checkStarted && m_player) m_check.frameFailed(frame, m_player->LastError());
    if (m_failurePending) return;  // the first failure is the one reported
    m_failurePending = true;
    m_failTime = frame.WallTime();
}

void CKorvexPlayerDoc::FinishCheck(bool keepResult) {
    // The check's report covers the frames the pass saw; a pass that saw them all also fails
    // on what only the whole recording shows (the timing, the group counts).
    bool offerReport = false;
    if (m_checking && m_checkStarted) {
        m_check.finish();
        offerReport = true;
        if (!m_failurePending && !keepResult && m_checkReachedEnd && !m_check.findings().empty()) {
            m_failurePending = true;
            m_failTime = m_check.findings().front().wallTime;
        }
    }
    m_checkStarted = false;
    if (m_checking) {
        m_checking = false;
        // Only a pass that went through to the end can pass: a check ended by opening or
        // closing something else has not seen every frame.
        const bool passed = !m_failurePending && !keepResult && m_checkReachedEnd;
        m_checkReachedEnd = false;
        if (m_progressShown) m_ui.closeProgress();
        m_progressShown = false;
        if (passed && m_ui.showAuthenticateOk(offerReport)) SaveIntegrityReport();
    }
    if (m_failurePending) {
        const std::string time = formatTime(m_failTime, m_gmtOffsetHours, "%H:%M:%S");
        m_failurePending = false;
        if (m_ui.showAuthenticateErr(time, offerReport)) SaveIntegrityReport();
    }
}

void CKorvexPlayerDoc::SaveIntegrityReport() {
    const std::string recording = m_check.header().Path();
    SaveRequest request;
    request.title = "Save integrity report";
    request.filter = "HTML Files (*.html)|*.html||";
    request.defaultExtension = "html";
    request.proposedPath = folderOf(recording) + baseNameOf(recording) + "_report.html";
    const std::optional<std::string> path = m_ui.askSavePath(request);
    if (!path) return;
    std::string error;
    if (!writeIntegrityReport(*path, recording, m_check, sha256OfFile(recording), error))
        m_ui.showMessage(kProgramTitle, "The report could not be saved: " + error);
}

}  // namespace kx
