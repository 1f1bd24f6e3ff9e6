// The tree behind every tree control of the program: the drive trees of the
// search dialogs and the results trees of Basic and Deep Search.
//
// A node has a text, an image index, a tri-state check box (`CheckState`), a
// highlight flag (dark-green text in the view) and an opaque payload pointer
// (the `RecoveredFolder` or `DriveDetails` record behind the item). Nodes live
// in one arena and are named by small integer ids that stay valid until the
// node is removed or the model is cleared; ids are never reused before Clear().
//
// Id 0 (`kNoTreeNode`) plays the part of both "no item" and the invisible
// root: the top-level items are the children of kNoTreeNode and their parent
// is kNoTreeNode.
//
// Threads. Every public member locks the model's (recursive) mutex, so any
// thread may call any member. A scan worker fills the tree while the GUI
// shows it. For a compound step that must not interleave with another thread
// (find, then insert), hold `Lock()` across it; the members may be called
// freely while it is held. Never wait for another thread (a GUI question, a
// join) while holding the lock.
//
// The view. A Qt adapter (src/app/ui/) shows the tree. It cannot be told of
// every insert synchronously, so the model keeps a journal of what changed
// since the adapter last looked, plus, per parent, how many of its children
// the adapter has already announced to its view ("published"). The first
// change after a TakeChanges() calls the change listener once; the adapter
// posts itself a queued call and publishes the whole batch on the GUI thread.
// Checking, highlighting and renaming only journal the node; appending
// children only journals the parent; reordering or removing announced rows
// asks for a layout refresh; Clear() asks for a reset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// The check box of a tree item: the index of its state image.
enum class CheckState : std::uint8_t {
    None = 0,       // no check box
    Unchecked = 1,
    Checked = 2,
    Partial = 3,    // some but not all of the subtree is checked
};

// The state-image bits of a CheckState (index shifted left by 12, mask 0xF000).
constexpr std::uint32_t CheckStateBits(CheckState s) { return static_cast<std::uint32_t>(s) << 12; }
constexpr CheckState CheckStateFromBits(std::uint32_t bits) {
    return static_cast<CheckState>((bits >> 12) & 0x3u);
}

using TreeNodeId = std::uint32_t;
inline constexpr TreeNodeId kNoTreeNode = 0;

// Where InsertChild puts the new node among its siblings.
enum class TreeInsert : std::uint8_t {
    Last,    // after the last child (the usual case; cheapest for the view)
    First,   // before the first child
    Sorted,  // after the last sibling whose text is not greater (CompareTreeText)
};

// Everything a new node can be given at once.
struct TreeNodeInit {
    std::string_view text;
    void* payload = nullptr;
    int image = 0;
    CheckState check = CheckState::None;
    bool highlight = false;
};

// The order of TreeInsert::Sorted and SortChildren: case-insensitive on ASCII
// letters, byte order otherwise (what the item-text sort of the tree shows).
int CompareTreeText(std::string_view a, std::string_view b);

// What changed since the last TakeChanges(). Read by the view adapter.
struct TreeChanges {
    // Clear() ran: every id and row the view knows is gone.
    bool reset = false;
    // Announced rows were reordered, removed, or new rows went in before
    // announced ones: re-read the layout (ids are still stable).
    bool layout = false;
    // Parents that have children beyond their published count, in ascending
    // id order. A node's id is always greater than its parent's, so publishing
    // in this order makes every parent visible before its own new rows go in.
    std::vector<TreeNodeId> appendedParents;
    // Nodes whose text, image, check box or highlight changed.
    std::vector<TreeNodeId> changed;
    // Too many changed nodes to list: treat every node as changed.
    bool allChanged = false;
    // Nodes the owner asked the view to expand (TVE_EXPAND).
    std::vector<TreeNodeId> expand;

    bool empty() const {
        return !reset && !layout && !allChanged && appendedParents.empty() && changed.empty() && expand.empty();
    }
};

class TreeModel {
public:
    TreeModel();
    ~TreeModel();
    TreeModel(const TreeModel&) = delete;
    TreeModel& operator=(const TreeModel&) = delete;

    // ---- locking -------------------------------------------------------
    // Holds the model's lock for a compound step; members stay callable.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> Lock() const;

    // ---- structure -----------------------------------------------------
    // Adds a node under `parent` (kNoTreeNode: top level). Returns its id, or
    // kNoTreeNode when the parent does not exist.
    TreeNodeId InsertChild(TreeNodeId parent, std::string_view text, TreeInsert where = TreeInsert::Last);
    TreeNodeId InsertChild(TreeNodeId parent, const TreeNodeInit& init, TreeInsert where = TreeInsert::Last);
    // Removes a node and its whole subtree (no-op for kNoTreeNode or a dead id).
    // Payloads are not owned and not freed.
    void Remove(TreeNodeId node);
    // Removes the children of `parent` and their subtrees (kNoTreeNode: every
    // item; unlike Clear() the ids already handed out are not reused).
    void RemoveChildren(TreeNodeId parent);
    // Empties the tree; every id becomes invalid.
    void Clear();
    // Sorts the direct children of `parent` by CompareTreeText, stable, not
    // recursive (kNoTreeNode: the top level).
    void SortChildren(TreeNodeId parent);

    // ---- navigation ----------------------------------------------------
    bool IsValid(TreeNodeId node) const;               // a live node (never kNoTreeNode)
    TreeNodeId Parent(TreeNodeId node) const;          // kNoTreeNode for a top-level or dead node
    std::size_t ChildCount(TreeNodeId parent) const;   // kNoTreeNode: number of top-level items
    TreeNodeId Child(TreeNodeId parent, std::size_t row) const;  // kNoTreeNode when out of range
    std::vector<TreeNodeId> Children(TreeNodeId parent) const;   // a copy, in order
    std::size_t Row(TreeNodeId node) const;            // position among its siblings
    TreeNodeId FirstChild(TreeNodeId parent) const;
    TreeNodeId NextSibling(TreeNodeId node) const;
    TreeNodeId PrevSibling(TreeNodeId node) const;
    TreeNodeId RootItem() const;                       // the first top-level item, or kNoTreeNode
    std::size_t Depth(TreeNodeId node) const;          // top-level items are at depth 0
    // The node after `node` in a pre-order walk of the subtree of `top`
    // (`top` itself excluded from the result); kNoTreeNode at the end.
    TreeNodeId NextPreOrder(TreeNodeId node, TreeNodeId top = kNoTreeNode) const;
    // Visits the subtree of `top` in pre-order (`top` first unless it is
    // kNoTreeNode), iteratively. `visit` returns false to stop. Runs under the
    // lock: keep it short and do not wait for other threads in it.
    void ForEachPreOrder(TreeNodeId top, const std::function<bool(TreeNodeId)>& visit) const;
    // First direct child of `parent` whose text equals `text` exactly.
    TreeNodeId FindChild(TreeNodeId parent, std::string_view text) const;
    // First direct child of `parent` that satisfies `pred` (under the lock).
    TreeNodeId FindChildIf(TreeNodeId parent, const std::function<bool(TreeNodeId)>& pred) const;
    // The live node with the smallest id whose payload is `payload` (a linear
    // scan of the arena: for occasional lookups only).
    TreeNodeId FindByPayload(const void* payload) const;
    // Live nodes (the invisible root not counted).
    std::size_t NodeCount() const;

    // ---- item data -----------------------------------------------------
    std::string Text(TreeNodeId node) const;           // empty for a dead id
    void SetText(TreeNodeId node, std::string_view text);
    int Image(TreeNodeId node) const;
    void SetImage(TreeNodeId node, int image);
    void* Payload(TreeNodeId node) const;
    void SetPayload(TreeNodeId node, void* payload);
    template <class T> T* PayloadAs(TreeNodeId node) const { return static_cast<T*>(Payload(node)); }
    bool Highlighted(TreeNodeId node) const;
    // Marks the item for dark-green text (the partition search marks found
    // disks and partitions this way). Safe from any thread.
    void SetHighlight(TreeNodeId node, bool on = true);
    // Forgets every highlight (the drive-tree refresh empties the appearance map).
    void ClearHighlights();
    // Asks the view to expand the item (it may not be shown yet: the view
    // expands it once it is published).
    void RequestExpand(TreeNodeId node);

    // ---- check boxes ---------------------------------------------------
    CheckState GetCheck(TreeNodeId node) const;
    // Sets one item's box, nothing else (SetStateImage).
    void SetCheck(TreeNodeId node, CheckState state);
    // The click on an item's box: unchecked becomes checked for the whole
    // subtree; checked, partial or none become unchecked for the whole
    // subtree; then every ancestor up to the top is recomputed from its
    // direct children. Returns the item's new state.
    CheckState ToggleCheck(TreeNodeId node);
    // The item and every descendant get `state` (iterative: any depth).
    void SetSubtreeCheck(TreeNodeId node, CheckState state);
    // Ancestor rules after a check: partial when any direct child is
    // unchecked or partial, else checked (box-less children do not count).
    void UpdateParentsAfterCheck(TreeNodeId node);
    // Ancestor rules after an uncheck: unchecked when every direct child is
    // unchecked, else partial (a box-less child makes its parent partial).
    void UpdateParentsAfterUncheck(TreeNodeId node);
    // Number of direct children (CountChildItems).
    int CountChildItems(TreeNodeId node) const;

    // ---- view adapter interface ------------------------------------------
    // Called (under the lock, from whatever thread made the change) when the
    // journal goes from empty to non-empty. It must only post a notice, e.g. a
    // queued call to the GUI thread, and return.
    void SetChangeListener(std::function<void()> listener);
    // Hands over the journal and empties it; the next change calls the
    // listener again. Hold Lock() from here until publication ends.
    TreeChanges TakeChanges();
    // Children of `parent` the view has been told of (always <= ChildCount).
    std::size_t PublishedChildCount(TreeNodeId parent) const;
    // Records that the view now knows the first `count` children (clamped).
    void PublishChildren(TreeNodeId parent, std::size_t count);
    // Every parent's published count becomes its child count (after a reset or
    // a layout refresh).
    void PublishAll();
    // True when the node and all its ancestors are within their parents'
    // published counts (the view can make an index for it).
    bool IsPublished(TreeNodeId node) const;
    // Changes since construction (monotonic), and Clear() count.
    std::uint64_t ChangeCounter() const;
    std::uint64_t Generation() const;

    // Approximate heap bytes held by the model (for the benchmark).
    std::size_t MemoryBytes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The number of direct children of `item` in `tree` (0 for a leaf or a dead id).
inline int CountChildItems(const TreeModel& tree, TreeNodeId item) { return tree.CountChildItems(item); }

}  // namespace torvane
