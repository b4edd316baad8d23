// The kd-tree as the node records show it: node views for diagnostics and tests, and the
// displays (the cases, the bounds, the tree node by node). They read the node records; all but
// DisplayPoints (const) first make them when the build left them out.
#include <string>

#include "VelDisplay.h"
#include "knn/search/kdtree/KNNKdTree.h"

namespace KNN_800 {

using namespace VelDisplay_940;
using namespace kdtree;

std::vector<int> KNNKdTree::LeafCases(const FlatNode& node) const {
    const auto first = caseIndex.begin() + node.ref;
    return std::vector<int>(first, first + ~node.info);
}

KNNKdTree::NodeView KNNKdTree::Node(int position) {
    EnsureNodes();
    NodeView view;
    const FlatNode& node = nodes.at(static_cast<size_t>(position));
    if (node.info < 0) {
        view.cases = LeafCases(node);
        return view;
    }
    const int j = node.info & kFeatureMask;
    view.leaf = false;
    view.column = entries[static_cast<size_t>(j)].column;
    view.continuous = (node.info & kCategoricalSplit) == 0;
    view.cut = node.cut;
    view.highBound = node.highBound;
    view.lowBound = node.lowBound;
    view.low = position + 1;
    view.high = node.ref;
    return view;
}

void KNNKdTree::ShowPoints() const {
    const size_t width = static_cast<size_t>(variableCount);
    for (int row : caseIndex) {
        const double* values = (*rows)[static_cast<size_t>(row)];
        DisplayDV("one point", std::vector<double>(values, values + width));
    }
}

void KNNKdTree::ShowBoundsAndDescription() const {
    DisplayText(0, "Bound display");
    DisplayVPD("Bound", bounds);
    DisplayText(0, "Bound display end");
    DisplayText(0, "Tree discription");
    DisplayI("Tree number", caseCount);
    DisplayI("Point size", variableCount);
    DisplayI("bucket size", bucketSize);
    DisplayText(0, "Tree discription end");
}

// Node numbers follow heap order: root 0, children of n at 2n + 1 and 2n + 2.
void KNNKdTree::ShowNode(int position, uint32_t number, int depth) const {
    std::string indent = "    ";
    for (int i = 0; i < depth; ++i) {
        indent += "..";
    }
    const FlatNode& node = nodes[static_cast<size_t>(position)];
    const int shown = static_cast<int>(number);
    if (node.info < 0) {
        DisplayI((indent + "Leaf n").c_str(), ~node.info);
        DisplayI("Node Num", shown);
        DisplayIV("Leaves are", LeafCases(node));
        return;
    }
    DisplayI((indent + "Node Num").c_str(), shown);
    DisplayI("Split cd", entries[static_cast<size_t>(node.info & kFeatureMask)].column);
    DisplayD("cv", node.cut);
    DisplayD("lbnd", node.lowBound);
    DisplayD("hbnd", node.highBound);
    ShowNode(position + 1, 2 * number + 1, depth + 1);
    ShowNode(node.ref, 2 * number + 2, depth + 1);
}

void KNNKdTree::DumpNode(int position) const {
    const FlatNode& node = nodes[static_cast<size_t>(position)];
    if (node.info < 0) {
        DisplayText(0, "Dump the entire leaves start");
        DisplayI("The leaves numbers are", ~node.info);
        DisplayIV("The leaves are", LeafCases(node));
        DisplayText(0, "End of dump the entire leaves");
        return;
    }
    DisplayI("Split", entries[static_cast<size_t>(node.info & kFeatureMask)].column);
    DisplayD("cv", node.cut);
    DisplayD("lbnd", node.lowBound);
    DisplayD("hbnd", node.highBound);
    DumpNode(position + 1);
    DumpNode(node.ref);
}

namespace {

// Says that the tree is empty, when it is; `line` is the wording of the view.
bool ShowsNullTree(bool empty, const char* line) {
    if (empty) {
        DisplayText(0, "Tree status");
        DisplayText(0, line);
    }
    return empty;
}

}  // namespace

void KNNKdTree::Display() {
    EnsureNodes();
    DisplayText(0, "Display all used points");
    ShowPoints();
    DisplayText(0, "Points display end");
    ShowBoundsAndDescription();
    if (ShowsNullTree(nodes.empty(), "  Null tree.")) {
        return;
    }
    ShowNode(0, 0, 0);
}

void KNNKdTree::DisplayPoints(bool showPoints) const {
    if (showPoints) {
        DisplayText(0, "All used points");
        ShowPoints();
    }
    if (ShowsNullTree(nodes.empty(), "    Null tree.")) {
        return;
    }
    ShowNode(0, 0, 0);
}

void KNNKdTree::DisplayTree(bool showPoints) {
    EnsureNodes();
    if (showPoints) {
        DisplayText(0, "All used points");
        ShowPoints();
        DisplayText(0, "Points display end");
    }
    ShowBoundsAndDescription();
    if (ShowsNullTree(nodes.empty(), "  Null tree.")) {
        return;
    }
    DumpNode(0);
}

}  // namespace KNN_800
