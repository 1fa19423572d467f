// The recording list pane: a table model over the rows the folder reader makes, the column
// widening rule, sorting by heading, and the clicks that hand a path to the Open window.
#include "browse/video_list_view.h"

#include <QAbstractTableModel>
#include <QFile>
#include <QHeaderView>
#include <QMetaObject>
#include <algorithm>
#include <array>
#include <cassert>
#include <numeric>

#include "recording/record_info.h"

namespace kx {

// The rows in the order they arrived, and the order in which they are shown.
class RecordingListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_order.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : kListColumnCount; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || role != Qt::DisplayRole) return {};
        return texts(index.row())[size_t(index.column())];
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= kListColumnCount) return {};
        if (role == Qt::DisplayRole) return QString::fromLatin1(kListColumnHeadings[size_t(section)]);
        if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        return {};
    }

    const ListRow& row(int shown) const { return m_rows[m_order[size_t(shown)]].row; }
    const std::array<QString, kListColumnCount>& texts(int shown) const {
        return m_rows[m_order[size_t(shown)]].texts;
    }
    // Rows by arrival: the rows of the last add() are the last ones.
    size_t storedCount() const { return m_rows.size(); }
    const std::array<QString, kListColumnCount>& storedTexts(size_t stored) const { return m_rows[stored].texts; }

    void clear() {
        beginResetModel();
        m_rows.clear();
        m_order.clear();
        endResetModel();
    }

    // Appends the rows at the end, or with `sort` puts each where the sort places it.
    void add(std::vector<ListRow>& rows, const ListSortState* sort) {
        if (rows.empty()) return;
        if (sort == nullptr) {
            const int first = int(m_order.size());
            beginInsertRows({}, first, first + int(rows.size()) - 1);
            for (ListRow& row : rows) push(std::move(row));
            endInsertRows();
            return;
        }
        for (ListRow& row : rows) {
            const auto at = std::upper_bound(m_order.begin(), m_order.end(), row.record,
                                             [this, sort](const RecordingRow& record, uint32_t shown) {
                                                 return compareListRows(record, m_rows[shown].row.record, *sort) < 0;
                                             });
            const int position = int(at - m_order.begin());
            beginInsertRows({}, position, position);
            push(std::move(row));
            m_order.insert(m_order.begin() + position, uint32_t(m_rows.size() - 1));
            m_order.pop_back();  // push() appended it at the end
            endInsertRows();
        }
    }

    void sort(const ListSortState& state) {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        std::vector<uint32_t> before = m_order;
        std::stable_sort(m_order.begin(), m_order.end(), [this, &state](uint32_t a, uint32_t b) {
            return compareListRows(m_rows[a].row.record, m_rows[b].row.record, state) < 0;
        });
        // Selection and current row follow their rows.
        std::vector<int> shownAt(m_rows.size());
        for (size_t i = 0; i < m_order.size(); ++i) shownAt[m_order[i]] = int(i);
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        for (const QModelIndex& index : from)
            to.push_back(index.isValid() ? createIndex(shownAt[before[size_t(index.row())]], index.column())
                                         : QModelIndex());
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }

private:
    struct Shown {
        ListRow row;
        std::array<QString, kListColumnCount> texts;
    };

    void push(ListRow&& row) {
        Shown shown{std::move(row), {}};
        // File names are the file system's; the other cells hold the recorder's text.
        const std::string& name = shown.row.cells[0];
        shown.texts[0] = QFile::decodeName(QByteArray(name.data(), qsizetype(name.size())));
        for (size_t c = 1; c < kListColumnCount; ++c)
            shown.texts[c] = QString::fromStdString(recorderTextToUtf8(shown.row.cells[c]));
        m_rows.push_back(std::move(shown));
        m_order.push_back(uint32_t(m_rows.size() - 1));
    }

    std::vector<Shown> m_rows;
    std::vector<uint32_t> m_order;
};

CVideoListView::CVideoListView(QWidget* parent)
    : QTreeView(parent), m_model(new RecordingListModel(this)), m_gmtOffsetHours(currentGmtOffsetHours()) {
    setObjectName(QStringLiteral("recordingList"));
    setAccessibleName(QStringLiteral("Recordings"));
    setModel(m_model);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);  // the heading clicks sort with the list's own comparison

    QHeaderView* heading = header();
    heading->setSectionsClickable(true);
    heading->setSectionsMovable(false);
    heading->setStretchLastSection(false);
    heading->setSortIndicatorShown(false);
    heading->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    heading->setSectionResizeMode(QHeaderView::Interactive);
    heading->setMinimumSectionSize(0);
    for (int c = 0; c < kListColumnCount; ++c)
        heading->resizeSection(c, fontMetrics().horizontalAdvance(QString::fromLatin1(kListColumnHeadings[size_t(c)])) + 15);
    connect(heading, &QHeaderView::sectionClicked, this, [this](int column) { SortByColumn(column); });
    connect(this, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) { rowChosen(index, false); });
    connect(this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { rowChosen(index, true); });

    // The worker hands its rows over by posting them to this thread; a batch of a folder no
    // longer shown is dropped there.
    m_reader = std::make_unique<RecordingFolderReader>(
        [this](uint64_t job, std::vector<ListRow>&& rows) {
            auto batch = std::make_shared<std::vector<ListRow>>(std::move(rows));
            QMetaObject::invokeMethod(
                this, [this, job, batch] { takeRows(job, *batch); }, Qt::QueuedConnection);
        },
        [this](uint64_t job, bool, const std::string&) {
            QMetaObject::invokeMethod(
                this,
                [this, job] {
                    if (job == m_job) m_reading = false;
                },
                Qt::QueuedConnection);
        });
}

CVideoListView::~CVideoListView() {
    // Joins the worker before this object stops being one that rows can be posted to.
    m_reader.reset();
}

void CVideoListView::ShowFolder(const std::string& folder) {
    ClearRows();
    m_folder = withTrailingSlash(folder);
    if (m_folder.empty()) return;
    m_reading = true;
    m_job = m_reader->start(m_folder, m_gmtOffsetHours);
}

void CVideoListView::ClearRows() {
    m_reader->cancel();
    m_job = 0;
    m_reading = false;
    m_sorted = false;
    m_model->clear();
}

void CVideoListView::SortByColumn(int column) {
    if (column < 0 || column >= kListColumnCount) return;
    m_sortState.click(column);
    m_sorted = true;
    if (m_model->rowCount() == 0) return;
    m_model->sort(m_sortState);
}

int CVideoListView::RowCount() const { return m_model->rowCount(); }

const ListRow& CVideoListView::RowAt(int index) const {
    assert(index >= 0 && index < RowCount());
    return m_model->row(index);
}

std::string CVideoListView::RowPath(int index) const { return m_folder + RowAt(index).record.name; }

void CVideoListView::takeRows(uint64_t job, std::vector<ListRow>& rows) {
    if (job != m_job || m_job == 0) return;
    const size_t before = m_model->storedCount();
    m_model->add(rows, m_sorted ? &m_sortState : nullptr);
    const QFontMetrics metrics = fontMetrics();
    for (size_t stored = before; stored < m_model->storedCount(); ++stored)
        widenColumns(m_model->storedTexts(stored), metrics);
}

// Cells left empty (a picture's end time, say) are not put in and widen nothing.
void CVideoListView::widenColumns(const std::array<QString, kListColumnCount>& texts, const QFontMetrics& metrics) {
    for (int c = 0; c < kListColumnCount; ++c) {
        if (texts[size_t(c)].isEmpty()) continue;
        const int width = header()->sectionSize(c);
        const int widened = widenedColumnWidth(width, metrics.horizontalAdvance(texts[size_t(c)]));
        if (widened != width) header()->resizeSection(c, widened);
    }
}

void CVideoListView::rowChosen(const QModelIndex& index, bool accept) {
    if (!index.isValid() || m_browseFrame == nullptr) return;
    m_browseFrame->SetFilePath(RowPath(index.row()));
    if (accept) m_browseFrame->AcceptPath();
}

}  // namespace kx
