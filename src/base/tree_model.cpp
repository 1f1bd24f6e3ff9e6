#include "base/tree_model.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace torvane {

namespace {

constexpr std::uint8_t kAlive = 0x01;
constexpr std::uint8_t kHighlight = 0x02;
constexpr std::uint8_t kJournaled = 0x04;   // already in the changed list
constexpr std::uint8_t kExpandAsked = 0x08;

// Beyond this many changed nodes in one batch the journal stops listing them
// and tells the view to refresh everything (a check of a large subtree).
constexpr std::size_t kMaxListedChanges = 20000;

constexpr std::uint32_t kNoList = 0;

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

}  // namespace

int CompareTreeText(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

// One node of the arena: 32 bytes, text and children kept elsewhere.
struct TreeNode {
    TreeNodeId parent = kNoTreeNode;
    std::uint32_t row = 0;         // position among the parent's children
    std::uint32_t textOffset = 0;  // into Impl::text
    std::uint32_t textLength = 0;
    void* payload = nullptr;
    std::uint32_t childList = kNoList;  // index into Impl::lists, kNoList when childless
    std::int16_t image = 0;
    std::uint8_t check = 0;
    std::uint8_t flags = 0;
};

struct ChildList {
    std::vector<TreeNodeId> ids;
    std::uint32_t byState[4] = {0, 0, 0, 0};  // children per CheckState, so an ancestor update is O(1)
    std::uint32_t published = 0;              // rows the view has been told of
    bool queued = false;                      // in Impl::appended
};

struct TreeModel::Impl {
    mutable std::recursive_mutex mutex;
    std::vector<TreeNode> nodes;      // nodes[0] is the invisible root
    std::vector<ChildList> lists;     // lists[0] unused (kNoList)
    std::vector<std::uint32_t> freeLists;
    std::vector<char> text;
    std::size_t liveCount = 0;

    // Journal.
    bool pending = false;
    bool reset = false;
    bool layout = false;
    bool allChanged = false;
    std::vector<TreeNodeId> appended;
    std::vector<TreeNodeId> changed;
    std::vector<TreeNodeId> expand;
    std::function<void()> listener;
    std::uint64_t changeCounter = 0;
    std::uint64_t generation = 0;

    Impl() { InitEmpty(); }

    void InitEmpty() {
        nodes.assign(1, TreeNode{});
        nodes[0].flags = kAlive;
        lists.assign(1, ChildList{});
        freeLists.clear();
        text.clear();
        liveCount = 0;
    }

    bool Live(TreeNodeId id) const { return id != kNoTreeNode && id < nodes.size() && (nodes[id].flags & kAlive); }
    // A node that may hold children: a live node or the invisible root.
    bool Holder(TreeNodeId id) const { return id == kNoTreeNode || Live(id); }

    const std::vector<TreeNodeId>* ChildrenOf(TreeNodeId id) const {
        if (!Holder(id)) return nullptr;
        const std::uint32_t l = nodes[id].childList;
        return l == kNoList ? nullptr : &lists[l].ids;
    }
    std::size_t CountOf(TreeNodeId id) const {
        const auto* c = ChildrenOf(id);
        return c ? c->size() : 0;
    }

    ChildList& EnsureList(TreeNodeId id) {
        std::uint32_t& l = nodes[id].childList;
        if (l == kNoList) {
            if (!freeLists.empty()) {
                l = freeLists.back();
                freeLists.pop_back();
            } else {
                if (lists.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::length_error("tree model: too many parents");
                lists.emplace_back();
                l = static_cast<std::uint32_t>(lists.size() - 1);
            }
        }
        return lists[l];
    }

    void ReleaseList(TreeNodeId id) {
        std::uint32_t& l = nodes[id].childList;
        if (l == kNoList) return;
        ChildList& cl = lists[l];
        std::vector<TreeNodeId>().swap(cl.ids);
        std::fill(std::begin(cl.byState), std::end(cl.byState), 0u);
        cl.published = 0;
        // A queued list stays in `appended` by parent id; TakeChanges drops dead parents.
        cl.queued = false;
        freeLists.push_back(l);
        l = kNoList;
    }

    std::string_view TextOf(TreeNodeId id) const {
        const TreeNode& n = nodes[id];
        if (n.textLength == 0) return {};
        return std::string_view(text.data() + n.textOffset, n.textLength);
    }

    void StoreText(TreeNode& n, std::string_view s) {
        if (s.size() <= n.textLength && n.textLength != 0) {
            std::copy(s.begin(), s.end(), text.begin() + n.textOffset);
            n.textLength = static_cast<std::uint32_t>(s.size());
            return;
        }
        if (s.size() > std::numeric_limits<std::uint32_t>::max() ||
            text.size() + s.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::length_error("tree model: text arena full");
        n.textOffset = static_cast<std::uint32_t>(text.size());
        n.textLength = static_cast<std::uint32_t>(s.size());
        text.insert(text.end(), s.begin(), s.end());
    }

    // ---- journal ----
    void Touch() {
        ++changeCounter;
        if (!pending) {
            pending = true;
            if (listener) listener();
        }
    }
    void JournalChanged(TreeNodeId id) {
        if (id == kNoTreeNode) return;
        if (!allChanged && !(nodes[id].flags & kJournaled)) {
            if (changed.size() >= kMaxListedChanges) {
                allChanged = true;
                for (TreeNodeId c : changed)
                    if (c < nodes.size()) nodes[c].flags &= static_cast<std::uint8_t>(~kJournaled);
                changed.clear();
            } else {
                nodes[id].flags |= kJournaled;
                changed.push_back(id);
            }
        }
        Touch();
    }
    void JournalAppend(TreeNodeId parent) {
        ChildList& cl = lists[nodes[parent].childList];
        if (!cl.queued) {
            cl.queued = true;
            appended.push_back(parent);
        }
        Touch();
    }
    void JournalLayout() {
        layout = true;
        Touch();
    }

    // ---- structure ----
    TreeNodeId Insert(TreeNodeId parent, const TreeNodeInit& init, TreeInsert where) {
        if (!Holder(parent)) return kNoTreeNode;
        if (nodes.size() >= std::numeric_limits<TreeNodeId>::max()) throw std::length_error("tree model: too many nodes");
        const TreeNodeId id = static_cast<TreeNodeId>(nodes.size());
        nodes.emplace_back();
        {
            TreeNode& n = nodes.back();
            n.parent = parent;
            n.payload = init.payload;
            n.image = static_cast<std::int16_t>(std::clamp(init.image, -32768, 32767));
            n.check = static_cast<std::uint8_t>(init.check) & 3u;
            n.flags = static_cast<std::uint8_t>(kAlive | (init.highlight ? kHighlight : 0));
            try {
                StoreText(n, init.text);
            } catch (...) {
                nodes.pop_back();
                throw;
            }
        }
        ++liveCount;
        ChildList& cl = EnsureList(parent);
        std::size_t pos = cl.ids.size();
        if (where == TreeInsert::First) {
            pos = 0;
        } else if (where == TreeInsert::Sorted) {
            const std::string_view t = init.text;
            auto it = std::upper_bound(cl.ids.begin(), cl.ids.end(), t, [this](std::string_view key, TreeNodeId other) {
                return CompareTreeText(key, TextOf(other)) < 0;
            });
            pos = static_cast<std::size_t>(it - cl.ids.begin());
        }
        cl.ids.insert(cl.ids.begin() + static_cast<std::ptrdiff_t>(pos), id);
        ++cl.byState[nodes[id].check];
        for (std::size_t r = pos; r < cl.ids.size(); ++r) nodes[cl.ids[r]].row = static_cast<std::uint32_t>(r);
        if (pos < cl.published) {
            // Rows the view shows moved down: it must re-read the layout.
            ++cl.published;  // keep the shown rows' count; the new row is among them now
            JournalLayout();
        } else {
            JournalAppend(parent);
        }
        return id;
    }

    // Removes `node`'s subtree from the arena (not from its parent's list).
    void KillSubtree(TreeNodeId top) {
        std::vector<TreeNodeId> stack{top};
        while (!stack.empty()) {
            const TreeNodeId id = stack.back();
            stack.pop_back();
            TreeNode& n = nodes[id];
            if (n.childList != kNoList) {
                const auto& ids = lists[n.childList].ids;
                stack.insert(stack.end(), ids.begin(), ids.end());
                ReleaseList(id);
            }
            n.flags = 0;  // dead (journal flag dropped too; TakeChanges skips dead ids)
            n.payload = nullptr;
            n.textLength = 0;
            --liveCount;
        }
    }

    void Remove(TreeNodeId node) {
        if (!Live(node)) return;
        const TreeNodeId parent = nodes[node].parent;
        const std::uint32_t row = nodes[node].row;
        const std::uint8_t check = nodes[node].check;
        KillSubtree(node);
        ChildList& cl = lists[nodes[parent].childList];
        --cl.byState[check];
        cl.ids.erase(cl.ids.begin() + row);
        for (std::size_t r = row; r < cl.ids.size(); ++r) nodes[cl.ids[r]].row = static_cast<std::uint32_t>(r);
        if (row < cl.published) {
            --cl.published;
            JournalLayout();
        } else {
            Touch();
        }
        if (cl.ids.empty() && parent != kNoTreeNode) {
            ReleaseList(parent);
            JournalChanged(parent);  // its expand button goes
        }
    }

    void RemoveChildren(TreeNodeId parent) {
        if (!Holder(parent) || nodes[parent].childList == kNoList) return;
        const std::vector<TreeNodeId> ids = lists[nodes[parent].childList].ids;
        const bool shown = lists[nodes[parent].childList].published > 0;
        for (TreeNodeId c : ids) KillSubtree(c);
        ReleaseList(parent);
        if (shown) JournalLayout(); else Touch();
        JournalChanged(parent);
    }

    void Clear() {
        InitEmpty();
        ++generation;
        reset = true;
        layout = false;
        allChanged = false;
        appended.clear();
        changed.clear();
        expand.clear();
        Touch();
    }

    void SortChildren(TreeNodeId parent) {
        if (!Holder(parent) || nodes[parent].childList == kNoList) return;
        ChildList& cl = lists[nodes[parent].childList];
        std::stable_sort(cl.ids.begin(), cl.ids.end(), [this](TreeNodeId a, TreeNodeId b) {
            return CompareTreeText(TextOf(a), TextOf(b)) < 0;
        });
        bool moved = false;
        for (std::size_t r = 0; r < cl.ids.size(); ++r) {
            TreeNode& n = nodes[cl.ids[r]];
            if (n.row != r) moved = true;
            n.row = static_cast<std::uint32_t>(r);
        }
        if (!moved) return;
        if (cl.published > 0) JournalLayout(); else Touch();
    }

    TreeNodeId ChildAt(TreeNodeId parent, std::size_t row) const {
        const auto* c = ChildrenOf(parent);
        return (c && row < c->size()) ? (*c)[row] : kNoTreeNode;
    }

    TreeNodeId NextPreOrder(TreeNodeId node, TreeNodeId top) const {
        if (!Holder(node)) return kNoTreeNode;
        if (CountOf(node) > 0) return ChildAt(node, 0);
        while (node != top && node != kNoTreeNode) {
            const TreeNode& n = nodes[node];
            const TreeNodeId sib = ChildAt(n.parent, std::size_t(n.row) + 1);
            if (sib != kNoTreeNode) return sib;
            node = n.parent;
        }
        return kNoTreeNode;
    }

    void SetCheck(TreeNodeId id, CheckState s) {
        TreeNode& n = nodes[id];
        const auto v = static_cast<std::uint8_t>(static_cast<std::uint8_t>(s) & 3u);
        if (n.check == v) return;
        std::uint32_t* counts = lists[nodes[n.parent].childList].byState;
        --counts[n.check];
        ++counts[v];
        n.check = v;
        JournalChanged(id);
    }

    void SetSubtreeCheck(TreeNodeId top, CheckState s) {
        if (!Live(top)) return;
        SetCheck(top, s);
        for (TreeNodeId id = NextPreOrder(top, top); id != kNoTreeNode; id = NextPreOrder(id, top)) SetCheck(id, s);
    }

    void UpdateParents(TreeNodeId node, bool afterCheck) {
        if (!Live(node)) return;
        // Each ancestor is recomputed from its direct children, read now:
        //  after a check:   partial when any child is unchecked or partial, else checked;
        //  after an uncheck: unchecked when every child is unchecked, else partial.
        // The per-state child counts give the same answer as scanning the children.
        for (TreeNodeId p = nodes[node].parent; p != kNoTreeNode; p = nodes[p].parent) {
            const ChildList& cl = lists[nodes[p].childList];  // p has at least one child: `node`'s line
            const auto& n = cl.byState;
            CheckState result;
            if (afterCheck) {
                result = (n[1] + n[3] > 0) ? CheckState::Partial : CheckState::Checked;
            } else {
                result = (n[1] == cl.ids.size()) ? CheckState::Unchecked : CheckState::Partial;
            }
            SetCheck(p, result);
        }
    }

    bool IsPublished(TreeNodeId node) const {
        if (!Live(node)) return false;
        while (node != kNoTreeNode) {
            const TreeNode& n = nodes[node];
            const std::uint32_t l = nodes[n.parent].childList;
            if (l == kNoList || n.row >= lists[l].published) return false;
            node = n.parent;
        }
        return true;
    }
};

TreeModel::TreeModel() : impl_(std::make_unique<Impl>()) {}
TreeModel::~TreeModel() = default;

std::unique_lock<std::recursive_mutex> TreeModel::Lock() const { return std::unique_lock<std::recursive_mutex>(impl_->mutex); }

#define TREE_LOCK std::lock_guard<std::recursive_mutex> guard_(impl_->mutex)

TreeNodeId TreeModel::InsertChild(TreeNodeId parent, std::string_view text, TreeInsert where) {
    TreeNodeInit init;
    init.text = text;
    return InsertChild(parent, init, where);
}

TreeNodeId TreeModel::InsertChild(TreeNodeId parent, const TreeNodeInit& init, TreeInsert where) {
    TREE_LOCK;
    return impl_->Insert(parent, init, where);
}

void TreeModel::Remove(TreeNodeId node) {
    TREE_LOCK;
    impl_->Remove(node);
}

void TreeModel::RemoveChildren(TreeNodeId parent) {
    TREE_LOCK;
    impl_->RemoveChildren(parent);
}

void TreeModel::Clear() {
    TREE_LOCK;
    impl_->Clear();
}

void TreeModel::SortChildren(TreeNodeId parent) {
    TREE_LOCK;
    impl_->SortChildren(parent);
}

bool TreeModel::IsValid(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node);
}

TreeNodeId TreeModel::Parent(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? impl_->nodes[node].parent : kNoTreeNode;
}

std::size_t TreeModel::ChildCount(TreeNodeId parent) const {
    TREE_LOCK;
    return impl_->CountOf(parent);
}

TreeNodeId TreeModel::Child(TreeNodeId parent, std::size_t row) const {
    TREE_LOCK;
    return impl_->ChildAt(parent, row);
}

std::vector<TreeNodeId> TreeModel::Children(TreeNodeId parent) const {
    TREE_LOCK;
    const auto* c = impl_->ChildrenOf(parent);
    return c ? *c : std::vector<TreeNodeId>{};
}

std::size_t TreeModel::Row(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? impl_->nodes[node].row : 0;
}

TreeNodeId TreeModel::FirstChild(TreeNodeId parent) const {
    TREE_LOCK;
    return impl_->ChildAt(parent, 0);
}

TreeNodeId TreeModel::NextSibling(TreeNodeId node) const {
    TREE_LOCK;
    if (!impl_->Live(node)) return kNoTreeNode;
    const TreeNode& n = impl_->nodes[node];
    return impl_->ChildAt(n.parent, std::size_t(n.row) + 1);
}

TreeNodeId TreeModel::PrevSibling(TreeNodeId node) const {
    TREE_LOCK;
    if (!impl_->Live(node)) return kNoTreeNode;
    const TreeNode& n = impl_->nodes[node];
    return n.row == 0 ? kNoTreeNode : impl_->ChildAt(n.parent, n.row - 1u);
}

TreeNodeId TreeModel::RootItem() const {
    TREE_LOCK;
    return impl_->ChildAt(kNoTreeNode, 0);
}

std::size_t TreeModel::Depth(TreeNodeId node) const {
    TREE_LOCK;
    if (!impl_->Live(node)) return 0;
    std::size_t d = 0;
    for (TreeNodeId p = impl_->nodes[node].parent; p != kNoTreeNode; p = impl_->nodes[p].parent) ++d;
    return d;
}

TreeNodeId TreeModel::NextPreOrder(TreeNodeId node, TreeNodeId top) const {
    TREE_LOCK;
    return impl_->NextPreOrder(node, top);
}

void TreeModel::ForEachPreOrder(TreeNodeId top, const std::function<bool(TreeNodeId)>& visit) const {
    TREE_LOCK;
    if (!impl_->Holder(top)) return;
    if (top != kNoTreeNode && !visit(top)) return;
    for (TreeNodeId id = impl_->NextPreOrder(top, top); id != kNoTreeNode; id = impl_->NextPreOrder(id, top))
        if (!visit(id)) return;
}

TreeNodeId TreeModel::FindChild(TreeNodeId parent, std::string_view text) const {
    TREE_LOCK;
    const auto* c = impl_->ChildrenOf(parent);
    if (!c) return kNoTreeNode;
    for (TreeNodeId id : *c) {
        const TreeNode& n = impl_->nodes[id];
        if (n.textLength == text.size() && impl_->TextOf(id) == text) return id;
    }
    return kNoTreeNode;
}

TreeNodeId TreeModel::FindChildIf(TreeNodeId parent, const std::function<bool(TreeNodeId)>& pred) const {
    TREE_LOCK;
    const auto* c = impl_->ChildrenOf(parent);
    if (!c) return kNoTreeNode;
    // Copy: the predicate may call back into the model.
    const std::vector<TreeNodeId> ids = *c;
    for (TreeNodeId id : ids)
        if (pred(id)) return id;
    return kNoTreeNode;
}

TreeNodeId TreeModel::FindByPayload(const void* payload) const {
    TREE_LOCK;
    if (!payload) return kNoTreeNode;
    for (std::size_t i = 1; i < impl_->nodes.size(); ++i) {
        const TreeNode& n = impl_->nodes[i];
        if ((n.flags & kAlive) && n.payload == payload) return static_cast<TreeNodeId>(i);
    }
    return kNoTreeNode;
}

std::size_t TreeModel::NodeCount() const {
    TREE_LOCK;
    return impl_->liveCount;
}

std::string TreeModel::Text(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? std::string(impl_->TextOf(node)) : std::string();
}

void TreeModel::SetText(TreeNodeId node, std::string_view text) {
    TREE_LOCK;
    if (!impl_->Live(node)) return;
    if (impl_->TextOf(node) == text) return;
    impl_->StoreText(impl_->nodes[node], text);
    impl_->JournalChanged(node);
}

int TreeModel::Image(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? impl_->nodes[node].image : 0;
}

void TreeModel::SetImage(TreeNodeId node, int image) {
    TREE_LOCK;
    if (!impl_->Live(node)) return;
    const auto v = static_cast<std::int16_t>(std::clamp(image, -32768, 32767));
    if (impl_->nodes[node].image == v) return;
    impl_->nodes[node].image = v;
    impl_->JournalChanged(node);
}

void* TreeModel::Payload(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? impl_->nodes[node].payload : nullptr;
}

void TreeModel::SetPayload(TreeNodeId node, void* payload) {
    TREE_LOCK;
    if (impl_->Live(node)) impl_->nodes[node].payload = payload;
}

bool TreeModel::Highlighted(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) && (impl_->nodes[node].flags & kHighlight);
}

void TreeModel::SetHighlight(TreeNodeId node, bool on) {
    TREE_LOCK;
    if (!impl_->Live(node)) return;
    std::uint8_t& f = impl_->nodes[node].flags;
    if (bool(f & kHighlight) == on) return;
    f = on ? static_cast<std::uint8_t>(f | kHighlight) : static_cast<std::uint8_t>(f & ~kHighlight);
    impl_->JournalChanged(node);
}

void TreeModel::ClearHighlights() {
    TREE_LOCK;
    for (std::size_t i = 1; i < impl_->nodes.size(); ++i) {
        if (impl_->nodes[i].flags & kHighlight) {
            impl_->nodes[i].flags &= static_cast<std::uint8_t>(~kHighlight);
            impl_->JournalChanged(static_cast<TreeNodeId>(i));
        }
    }
}

void TreeModel::RequestExpand(TreeNodeId node) {
    TREE_LOCK;
    if (!impl_->Live(node)) return;
    std::uint8_t& f = impl_->nodes[node].flags;
    if (f & kExpandAsked) return;
    f |= kExpandAsked;
    impl_->expand.push_back(node);
    impl_->Touch();
}

CheckState TreeModel::GetCheck(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->Live(node) ? static_cast<CheckState>(impl_->nodes[node].check) : CheckState::None;
}

void TreeModel::SetCheck(TreeNodeId node, CheckState state) {
    TREE_LOCK;
    if (impl_->Live(node)) impl_->SetCheck(node, state);
}

CheckState TreeModel::ToggleCheck(TreeNodeId node) {
    TREE_LOCK;
    if (!impl_->Live(node)) return CheckState::None;
    if (static_cast<CheckState>(impl_->nodes[node].check) == CheckState::Unchecked) {
        impl_->SetSubtreeCheck(node, CheckState::Checked);
        impl_->UpdateParents(node, true);
    } else {
        impl_->SetSubtreeCheck(node, CheckState::Unchecked);
        impl_->UpdateParents(node, false);
    }
    return static_cast<CheckState>(impl_->nodes[node].check);
}

void TreeModel::SetSubtreeCheck(TreeNodeId node, CheckState state) {
    TREE_LOCK;
    impl_->SetSubtreeCheck(node, state);
}

void TreeModel::UpdateParentsAfterCheck(TreeNodeId node) {
    TREE_LOCK;
    impl_->UpdateParents(node, true);
}

void TreeModel::UpdateParentsAfterUncheck(TreeNodeId node) {
    TREE_LOCK;
    impl_->UpdateParents(node, false);
}

int TreeModel::CountChildItems(TreeNodeId node) const {
    TREE_LOCK;
    const std::size_t n = impl_->CountOf(node);
    return n > static_cast<std::size_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                          : static_cast<int>(n);
}

void TreeModel::SetChangeListener(std::function<void()> listener) {
    TREE_LOCK;
    impl_->listener = std::move(listener);
}

TreeChanges TreeModel::TakeChanges() {
    TREE_LOCK;
    Impl& m = *impl_;
    TreeChanges out;
    out.reset = m.reset;
    out.layout = m.layout;
    out.allChanged = m.allChanged;
    out.appendedParents.reserve(m.appended.size());
    for (TreeNodeId p : m.appended) {
        if (!m.Holder(p) || m.nodes[p].childList == kNoList) continue;
        ChildList& cl = m.lists[m.nodes[p].childList];
        if (!cl.queued) continue;
        cl.queued = false;
        if (cl.ids.size() > cl.published) out.appendedParents.push_back(p);
    }
    std::sort(out.appendedParents.begin(), out.appendedParents.end());
    out.changed.reserve(m.changed.size());
    for (TreeNodeId id : m.changed) {
        if (!m.Live(id)) continue;
        m.nodes[id].flags &= static_cast<std::uint8_t>(~kJournaled);
        out.changed.push_back(id);
    }
    for (TreeNodeId id : m.expand) {
        if (!m.Live(id)) continue;
        m.nodes[id].flags &= static_cast<std::uint8_t>(~kExpandAsked);
        out.expand.push_back(id);
    }
    m.appended.clear();
    m.changed.clear();
    m.expand.clear();
    m.reset = m.layout = m.allChanged = false;
    m.pending = false;
    return out;
}

std::size_t TreeModel::PublishedChildCount(TreeNodeId parent) const {
    TREE_LOCK;
    if (!impl_->Holder(parent)) return 0;
    const std::uint32_t l = impl_->nodes[parent].childList;
    if (l == kNoList) return 0;
    const ChildList& cl = impl_->lists[l];
    return std::min<std::size_t>(cl.published, cl.ids.size());
}

void TreeModel::PublishChildren(TreeNodeId parent, std::size_t count) {
    TREE_LOCK;
    if (!impl_->Holder(parent)) return;
    const std::uint32_t l = impl_->nodes[parent].childList;
    if (l == kNoList) return;
    ChildList& cl = impl_->lists[l];
    cl.published = static_cast<std::uint32_t>(std::min(count, cl.ids.size()));
}

void TreeModel::PublishAll() {
    TREE_LOCK;
    for (std::size_t i = 1; i < impl_->lists.size(); ++i) {
        ChildList& cl = impl_->lists[i];
        cl.published = static_cast<std::uint32_t>(cl.ids.size());
    }
}

bool TreeModel::IsPublished(TreeNodeId node) const {
    TREE_LOCK;
    return impl_->IsPublished(node);
}

std::uint64_t TreeModel::ChangeCounter() const {
    TREE_LOCK;
    return impl_->changeCounter;
}

std::uint64_t TreeModel::Generation() const {
    TREE_LOCK;
    return impl_->generation;
}

std::size_t TreeModel::MemoryBytes() const {
    TREE_LOCK;
    const Impl& m = *impl_;
    std::size_t bytes = sizeof(Impl) + m.nodes.capacity() * sizeof(TreeNode) + m.lists.capacity() * sizeof(ChildList) +
                        m.text.capacity() + m.freeLists.capacity() * sizeof(std::uint32_t) +
                        (m.appended.capacity() + m.changed.capacity() + m.expand.capacity()) * sizeof(TreeNodeId);
    for (const ChildList& cl : m.lists) bytes += cl.ids.capacity() * sizeof(TreeNodeId);
    return bytes;
}

#undef TREE_LOCK

}  // namespace torvane
