// kxtool list: the rows of the Open window's recording list for one folder, exactly as the list
// shows them (eight cells, tab-separated, under a heading line), optionally sorted as clicks on a
// heading sort them, or as JSON with each row's record.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "browse/recording_list.h"
#include "recording/record_info.h"
#include "tools/kxtool/commands.h"

namespace kx {
namespace {

// The file name is the file system's; the other cells hold the recorder's text.
std::string cellText(const ListRow& row, size_t column) {
    return column == 0 ? row.cells[0] : recorderTextToUtf8(row.cells[column]);
}

}  // namespace

int runList(const ListOptions& options) {
    std::vector<ListRow> rows;
    std::string error;
    if (!readFolderRows(
            options.folder, currentGmtOffsetHours(),
            [&rows](std::vector<ListRow>&& batch) {
                rows.insert(rows.end(), std::make_move_iterator(batch.begin()), std::make_move_iterator(batch.end()));
            },
            {}, error)) {
        reportError(options.folder, error);
        return 1;
    }
    if (options.sortColumn) {
        // One click on the heading, a second one for the reverse order.
        ListSortState state;
        state.click(*options.sortColumn);
        if (options.sortReverse) state.click(*options.sortColumn);
        sortListRows(rows, state);
    }

    if (options.json) {
        nlohmann::ordered_json out = nlohmann::ordered_json::array();
        for (const ListRow& row : rows) {
            nlohmann::ordered_json cells = nlohmann::ordered_json::array();
            for (size_t c = 0; c < kListColumnCount; ++c) cells.push_back(cellText(row, c));
            out.push_back({{"name", row.record.name},
                           {"kind", int(row.kind)},
                           {"start", row.record.start},
                           {"end", row.record.end},
                           {"board", recorderTextToUtf8(row.record.board)},
                           {"camera", recorderTextToUtf8(row.record.camera)},
                           {"width", row.record.width},
                           {"height", row.height},
                           {"length", row.record.length},
                           {"host", recorderTextToUtf8(row.record.host)},
                           {"cells", std::move(cells)}});
        }
        // File names that are not UTF-8 are shown with replacement characters.
        std::printf("%s\n", out.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
        return 0;
    }
    std::string text;
    for (size_t c = 0; c < kListColumnCount; ++c) {
        if (c > 0) text += '\t';
        text += kListColumnHeadings[c];
    }
    text += '\n';
    for (const ListRow& row : rows) {
        for (size_t c = 0; c < kListColumnCount; ++c) {
            if (c > 0) text += '\t';
            text += cellText(row, c);
        }
        text += '\n';
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace kx
