// The Open window's panes: splitter, tree and list, and the joins between them.
#include "browse/open_frame.h"

#include <QResizeEvent>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "browse/browse_targets.h"
#include "browse/host_tree_view.h"
#include "browse/video_list_view.h"

namespace kx {

COpenFrame::COpenFrame(BrowseFrameTarget& window, const std::string& currentFolder,
                       QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("openPanes"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_splitter->setChildrenCollapsible(true);
    m_tree = new CHostTreeView(m_splitter);
    m_list = new CVideoListView(m_splitter);
    m_splitter->addWidget(m_tree);
    m_splitter->addWidget(m_list);
    m_tree->setMinimumWidth(0);
    // The list takes what the tree leaves; only the tree's start width is fixed.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    layout->addWidget(m_splitter);

    m_list->SetBrowseFrame(&window);
    m_tree->SetListView(m_list);
    m_tree->PopulateTree(currentFolder);
}

void COpenFrame::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The tree starts 180 pixels wide once the frame has a width to share; after that the
    // user's splitter position is kept.
    if (m_sized || width() <= 0) return;
    m_sized = true;
    m_splitter->setSizes({kTreeWidth, std::max(0, width() - kTreeWidth)});
}

}  // namespace kx
