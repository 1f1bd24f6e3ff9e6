#include "base/tree_model.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace torvane {
namespace {

using CS = CheckState;

TreeNodeInit Boxed(std::string_view text, CS s = CS::Unchecked) {
    TreeNodeInit init;
    init.text = text;
    init.check = s;
    return init;
}

// Root
//  ├─ A
//  │   ├─ A1
//  │   └─ A2
//  │       └─ A2x
//  └─ B
struct SmallTree {
    TreeModel m;
    TreeNodeId root, a, a1, a2, a2x, b;
    SmallTree() {
        root = m.InsertChild(kNoTreeNode, Boxed("Root"));
        a = m.InsertChild(root, Boxed("A"));
        a1 = m.InsertChild(a, Boxed("A1"));
        a2 = m.InsertChild(a, Boxed("A2"));
        a2x = m.InsertChild(a2, Boxed("A2x"));
        b = m.InsertChild(root, Boxed("B"));
    }
    std::vector<CS> States() const {
        return {m.GetCheck(root), m.GetCheck(a), m.GetCheck(a1), m.GetCheck(a2), m.GetCheck(a2x), m.GetCheck(b)};
    }
};

TEST(TreeModel, StructureAndNavigation) {
    SmallTree t;
    EXPECT_EQ(t.m.NodeCount(), 6u);
    EXPECT_EQ(t.m.RootItem(), t.root);
    EXPECT_EQ(t.m.Parent(t.root), kNoTreeNode);
    EXPECT_EQ(t.m.Parent(t.a2x), t.a2);
    EXPECT_EQ(t.m.Children(t.a), (std::vector<TreeNodeId>{t.a1, t.a2}));
    EXPECT_EQ(t.m.Row(t.b), 1u);
    EXPECT_EQ(t.m.NextSibling(t.a), t.b);
    EXPECT_EQ(t.m.PrevSibling(t.b), t.a);
    EXPECT_EQ(t.m.PrevSibling(t.a), kNoTreeNode);
    EXPECT_EQ(t.m.Depth(t.a2x), 3u);
    EXPECT_EQ(t.m.CountChildItems(t.a1), 0);
    EXPECT_EQ(t.m.CountChildItems(t.root), 2);
    EXPECT_EQ(t.m.FindChild(t.a, "A2"), t.a2);
    EXPECT_EQ(t.m.FindChild(t.a, "a2"), kNoTreeNode);  // exact, case-sensitive

    std::vector<std::string> order;
    t.m.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId id) {
        order.push_back(t.m.Text(id));
        return true;
    });
    EXPECT_EQ(order, (std::vector<std::string>{"Root", "A", "A1", "A2", "A2x", "B"}));
    // A walk limited to a subtree does not leave it.
    order.clear();
    for (TreeNodeId id = t.m.NextPreOrder(t.a, t.a); id != kNoTreeNode; id = t.m.NextPreOrder(id, t.a))
        order.push_back(t.m.Text(id));
    EXPECT_EQ(order, (std::vector<std::string>{"A1", "A2", "A2x"}));
}

TEST(TreeModel, TextPayloadImageHighlight) {
    TreeModel m;
    int record = 42;
    TreeNodeInit init;
    init.text = "DIR_12";
    init.payload = &record;
    init.image = 1;
    const TreeNodeId n = m.InsertChild(kNoTreeNode, init);
    EXPECT_EQ(m.PayloadAs<int>(n), &record);
    EXPECT_EQ(m.FindByPayload(&record), n);
    EXPECT_EQ(m.Image(n), 1);
    m.SetText(n, "Photos");  // shorter: in place
    EXPECT_EQ(m.Text(n), "Photos");
    m.SetText(n, "A much longer folder name than before");
    EXPECT_EQ(m.Text(n), "A much longer folder name than before");
    EXPECT_FALSE(m.Highlighted(n));
    m.SetHighlight(n);
    m.SetHighlight(n);  // a second call changes nothing
    EXPECT_TRUE(m.Highlighted(n));
    m.ClearHighlights();
    EXPECT_FALSE(m.Highlighted(n));
}

// The click on a box, from every starting state, and what it does to the
// subtree and the ancestors.
TEST(TreeModel, CheckPropagationTable) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, CS>> setup;  // node index (order of States()), state
        int click;
        std::vector<CS> expect;  // root, a, a1, a2, a2x, b
    };
    const CS U = CS::Unchecked, C = CS::Checked, P = CS::Partial, N = CS::None;
    const std::vector<Case> cases = {
        {"check a leaf: parent partial, ancestors partial", {}, 2, {P, P, C, U, U, U}},
        {"check an inner item: subtree checked", {}, 3, {P, P, U, C, C, U}},
        {"check the last unchecked child: parent checked",
         {{2, C}, {0, P}, {1, P}}, 3, {P, C, C, C, C, U}},
        {"check the top: everything checked", {}, 0, {C, C, C, C, C, C}},
        {"uncheck in a checked subtree: ancestors partial",
         {{0, C}, {1, C}, {2, C}, {3, C}, {4, C}, {5, C}}, 4, {P, P, C, U, U, C}},
        {"uncheck the last checked item: ancestors unchecked",
         {{0, P}, {1, P}, {2, C}}, 2, {U, U, U, U, U, U}},
        {"a click on a partial item unchecks it and its subtree",
         {{0, P}, {1, P}, {2, C}, {3, U}}, 1, {U, U, U, U, U, U}},
        {"a click on a partial item with checked siblings",
         {{0, P}, {1, P}, {2, C}, {5, C}}, 1, {P, U, U, U, U, C}},
        {"a box-less sibling does not block checked after a check",
         {{5, N}, {2, C}}, 3, {C, C, C, C, C, N}},
        {"a box-less sibling makes the parent partial after an uncheck",
         {{5, N}, {1, C}, {2, C}, {3, C}, {4, C}, {0, C}}, 1, {P, U, U, U, U, N}},
        {"a click on a box-less item unchecks it", {{2, N}}, 2, {U, U, U, U, U, U}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmallTree t;
        const TreeNodeId ids[] = {t.root, t.a, t.a1, t.a2, t.a2x, t.b};
        for (auto [i, s] : c.setup) t.m.SetCheck(ids[i], s);
        t.m.ToggleCheck(ids[c.click]);
        EXPECT_EQ(t.States(), c.expect);
    }
}

TEST(TreeModel, ToggleTwiceRestoresUnchecked) {
    SmallTree t;
    EXPECT_EQ(t.m.ToggleCheck(t.a2), CS::Checked);
    EXPECT_EQ(t.m.ToggleCheck(t.a2), CS::Unchecked);
    for (CS s : t.States()) EXPECT_EQ(s, CS::Unchecked);
}

TEST(TreeModel, DeepChainDoesNotOverflowTheStack) {
    TreeModel m;
    constexpr int kDepth = 200000;
    std::vector<TreeNodeId> chain;
    chain.reserve(kDepth);
    TreeNodeId parent = kNoTreeNode;
    for (int i = 0; i < kDepth; ++i) {
        parent = m.InsertChild(parent, Boxed("d"));
        chain.push_back(parent);
    }
    // Check the deepest item: every ancestor becomes checked (each has one child).
    m.ToggleCheck(chain.back());
    EXPECT_EQ(m.GetCheck(chain.front()), CS::Checked);
    EXPECT_EQ(m.GetCheck(chain[kDepth / 2]), CS::Checked);
    // Uncheck the top: the whole chain follows.
    m.ToggleCheck(chain.front());
    EXPECT_EQ(m.GetCheck(chain.back()), CS::Unchecked);
    EXPECT_EQ(m.Depth(chain.back()), static_cast<std::size_t>(kDepth - 1));
    std::size_t visited = 0;
    m.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId) { return ++visited, true; });
    EXPECT_EQ(visited, static_cast<std::size_t>(kDepth));
    m.Remove(chain[1]);
    EXPECT_EQ(m.NodeCount(), 1u);
}

TEST(TreeModel, WideTreeCheckAndUncheck) {
    TreeModel m;
    const TreeNodeId root = m.InsertChild(kNoTreeNode, Boxed("Root"));
    std::vector<TreeNodeId> kids;
    for (int i = 0; i < 50000; ++i) kids.push_back(m.InsertChild(root, Boxed("f" + std::to_string(i))));
    for (TreeNodeId k : kids) m.ToggleCheck(k);
    EXPECT_EQ(m.GetCheck(root), CS::Checked);
    m.ToggleCheck(kids[25000]);
    EXPECT_EQ(m.GetCheck(root), CS::Partial);
}

TEST(TreeModel, RemoveAndClearInvalidateIds) {
    SmallTree t;
    t.m.Remove(t.a);
    EXPECT_FALSE(t.m.IsValid(t.a));
    EXPECT_FALSE(t.m.IsValid(t.a2x));
    EXPECT_EQ(t.m.Text(t.a2x), "");
    EXPECT_EQ(t.m.Children(t.root), std::vector<TreeNodeId>{t.b});
    EXPECT_EQ(t.m.Row(t.b), 0u);
    EXPECT_EQ(t.m.NodeCount(), 2u);
    t.m.ToggleCheck(t.a2x);  // dead id: no effect, no crash
    t.m.SetText(t.a1, "x");
    EXPECT_EQ(t.m.InsertChild(t.a, "orphan"), kNoTreeNode);
    // New ids are fresh, never reused before Clear().
    const TreeNodeId c = t.m.InsertChild(t.root, "C");
    EXPECT_GT(c, t.b);
    t.m.Clear();
    EXPECT_EQ(t.m.NodeCount(), 0u);
    EXPECT_FALSE(t.m.IsValid(t.root));
    EXPECT_EQ(t.m.RootItem(), kNoTreeNode);
}

TEST(TreeModel, SortedInsertAndSortChildren) {
    TreeModel m;
    const TreeNodeId top = m.InsertChild(kNoTreeNode, "Physical Drives");
    for (const char* s : {"Removable Media", "Fixed hard disk media", "External hard disk media", "fixed 2"})
        m.InsertChild(top, s, TreeInsert::Sorted);
    std::vector<std::string> texts;
    for (TreeNodeId c : m.Children(top)) texts.push_back(m.Text(c));
    EXPECT_EQ(texts, (std::vector<std::string>{"External hard disk media", "fixed 2", "Fixed hard disk media",
                                               "Removable Media"}));
    TreeModel n;
    for (const char* s : {"b", "A", "D", "a"}) n.InsertChild(kNoTreeNode, s);
    n.SortChildren(kNoTreeNode);
    texts.clear();
    for (TreeNodeId c : n.Children(kNoTreeNode)) texts.push_back(n.Text(c));
    EXPECT_EQ(texts, (std::vector<std::string>{"A", "a", "b", "D"}));  // stable for equal keys
    for (std::size_t r = 0; r < 4; ++r) EXPECT_EQ(n.Row(n.Child(kNoTreeNode, r)), r);
}

TEST(TreeModel, JournalBatchesChangesForTheView) {
    TreeModel m;
    int notices = 0;
    m.SetChangeListener([&] { ++notices; });
    const TreeNodeId root = m.InsertChild(kNoTreeNode, Boxed("Root"));
    const TreeNodeId a = m.InsertChild(root, Boxed("A"));
    m.InsertChild(a, Boxed("A1"));
    EXPECT_EQ(notices, 1);  // one notice per batch
    TreeChanges ch = m.TakeChanges();
    EXPECT_EQ(ch.appendedParents, (std::vector<TreeNodeId>{kNoTreeNode, root, a}));  // ancestors first
    EXPECT_FALSE(ch.reset);
    EXPECT_FALSE(ch.layout);
    EXPECT_FALSE(m.IsPublished(a));
    for (TreeNodeId p : ch.appendedParents) m.PublishChildren(p, m.ChildCount(p));
    EXPECT_TRUE(m.IsPublished(a));

    m.ToggleCheck(a);
    EXPECT_EQ(notices, 2);
    ch = m.TakeChanges();
    EXPECT_TRUE(ch.appendedParents.empty());
    EXPECT_EQ(ch.changed.size(), 3u);  // A1, A and Root

    m.SortChildren(kNoTreeNode);  // one child: nothing moves
    EXPECT_TRUE(m.TakeChanges().empty());
    m.InsertChild(kNoTreeNode, "0 first", TreeInsert::Sorted);  // before a shown row
    ch = m.TakeChanges();
    EXPECT_TRUE(ch.layout);
    m.Clear();
    ch = m.TakeChanges();
    EXPECT_TRUE(ch.reset);
}

TEST(TreeModel, WorkerFillsWhileReaderWalks) {
    TreeModel m;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        const TreeNodeId root = m.InsertChild(kNoTreeNode, Boxed("Root"));
        TreeNodeId folder = root;
        for (int i = 0; i < 20000; ++i) {
            auto lock = m.Lock();  // find-then-insert as one step
            if (i % 100 == 0) folder = m.InsertChild(root, Boxed("dir" + std::to_string(i)));
            if (m.FindChild(folder, "x") == kNoTreeNode) m.InsertChild(folder, Boxed("f"));
        }
        done = true;
    });
    // The reader publishes as a view adapter would and checks that what it
    // published stays consistent while the worker goes on.
    while (!done) {
        auto lock = m.Lock();
        TreeChanges ch = m.TakeChanges();
        for (TreeNodeId p : ch.appendedParents) {
            ASSERT_TRUE(p == kNoTreeNode || m.IsPublished(p));
            m.PublishChildren(p, m.ChildCount(p));
        }
        const std::size_t top = m.PublishedChildCount(kNoTreeNode);
        if (top > 0) {
            const TreeNodeId root = m.Child(kNoTreeNode, 0);
            const std::size_t dirs = m.PublishedChildCount(root);
            for (std::size_t r = 0; r < dirs; ++r) ASSERT_TRUE(m.IsPublished(m.Child(root, r)));
        }
        lock.unlock();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(m.NodeCount(), 1u + 200u + 20000u);
    std::size_t seen = 0;
    m.ForEachPreOrder(kNoTreeNode, [&](TreeNodeId) { return ++seen, true; });
    EXPECT_EQ(seen, m.NodeCount());
}

}  // namespace
}  // namespace torvane
