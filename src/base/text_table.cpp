#include "base/text_table.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "base/text_routines.h"

namespace torvane {

TextTable::TextTable(std::string name, std::vector<Column> columns) : name_(std::move(name)) {
    SetColumns(std::move(columns));
}

bool TextTable::SetColumns(std::vector<Column> columns) {
    auto lock = Lock();
    if (!columns_.empty() || !links_.empty()) return false;
    columns_ = std::move(columns);
    return true;
}

std::size_t TextTable::ColumnIndex(std::string_view columnName) const {
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name == columnName) return i;
    }
    return npos;
}

std::size_t TextTable::RowCount() const {
    auto lock = Lock();
    return SizeOf(root_);
}

// ---- the position tree -------------------------------------------------
// A treap: in-order is row order, priorities keep it balanced with high
// probability, each node knows its subtree size (position <-> node) and its
// parent (node -> position, used by the key index).

void TextTable::Update(Node n) {
    NodeLinks& l = links_[n];
    l.size = 1 + SizeOf(l.left) + SizeOf(l.right);
    if (l.left != kNil) links_[l.left].parent = n;
    if (l.right != kNil) links_[l.right].parent = n;
}

void TextTable::Split(Node t, std::size_t count, Node& left, Node& right) {
    if (t == kNil) {
        left = right = kNil;
        return;
    }
    const std::size_t leftSize = SizeOf(links_[t].left);
    if (count <= leftSize) {
        Node a, b;
        Split(links_[t].left, count, a, b);
        links_[t].left = b;
        Update(t);
        left = a;
        right = t;
    } else {
        Node a, b;
        Split(links_[t].right, count - leftSize - 1, a, b);
        links_[t].right = a;
        Update(t);
        left = t;
        right = b;
    }
}

TextTable::Node TextTable::Merge(Node a, Node b) {
    if (a == kNil) return b;
    if (b == kNil) return a;
    if (links_[a].priority > links_[b].priority) {
        links_[a].right = Merge(links_[a].right, b);
        Update(a);
        return a;
    }
    links_[b].left = Merge(a, links_[b].left);
    Update(b);
    return b;
}

TextTable::Node TextTable::NodeAt(std::size_t position) const {
    Node n = root_;
    while (n != kNil) {
        const std::size_t leftSize = SizeOf(links_[n].left);
        if (position < leftSize) {
            n = links_[n].left;
        } else if (position == leftSize) {
            return n;
        } else {
            position -= leftSize + 1;
            n = links_[n].right;
        }
    }
    return kNil;
}

std::size_t TextTable::PositionOf(Node n) const {
    std::size_t pos = SizeOf(links_[n].left);
    Node child = n;
    Node p = links_[n].parent;
    while (p != kNil) {
        if (links_[p].right == child) pos += SizeOf(links_[p].left) + 1;
        child = p;
        p = links_[p].parent;
    }
    return pos;
}

std::uint32_t TextTable::NextPriority() {
    // xorshift64*: fast, and good enough to balance the tree.
    rngState_ ^= rngState_ >> 12;
    rngState_ ^= rngState_ << 25;
    rngState_ ^= rngState_ >> 27;
    return static_cast<std::uint32_t>((rngState_ * 0x2545F4914F6CDD1Dull) >> 32);
}

// Packed cell: a length byte (0xFF: four length bytes follow) and the text.
std::size_t TextTable::PackedSize(std::string_view cell) {
    return (cell.size() < 0xFF ? 1 : 5) + cell.size();
}

char* TextTable::WritePacked(char* out, std::string_view cell) {
    if (cell.size() < 0xFF) {
        *out++ = static_cast<char>(cell.size());
    } else {
        *out++ = static_cast<char>(0xFF);
        const auto len = static_cast<std::uint32_t>(cell.size());
        std::memcpy(out, &len, sizeof len);
        out += sizeof len;
    }
    if (!cell.empty()) std::memcpy(out, cell.data(), cell.size());
    return out + cell.size();
}

std::string_view TextTable::CellView(Node n, std::size_t column) const {
    const char* p = links_[n].cells;
    for (std::size_t k = 0;; ++k) {
        std::size_t len = static_cast<unsigned char>(*p++);
        if (len == 0xFF) {
            std::uint32_t l;
            std::memcpy(&l, p, sizeof l);
            p += sizeof l;
            len = l;
        }
        if (k == column) return std::string_view(p, len);
        p += len;
    }
}

char* TextTable::ArenaAllocate(std::size_t bytes) {
    constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
    if (bytes > arenaLeft_) {
        const std::size_t size = std::max(kBlockBytes, bytes);
        arenaBlocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        wastedBytes_ += arenaLeft_;  // the unused tail of the previous block
        arenaNext_ = arenaBlocks_.back().get();
        arenaLeft_ = size;
    }
    char* p = arenaNext_;
    arenaNext_ += bytes;
    arenaLeft_ -= bytes;
    liveBytes_ += bytes;
    return p;
}

void TextTable::ReleaseCells(Node n) {
    liveBytes_ -= links_[n].cellBytes;
    wastedBytes_ += links_[n].cellBytes;
    links_[n].cells = nullptr;
    links_[n].cellBytes = 0;
}

void TextTable::MaybeCompact() {
    constexpr std::size_t kMinWaste = std::size_t{4} << 20;
    if (wastedBytes_ < kMinWaste || wastedBytes_ < liveBytes_) return;
    // Copy every live row into fresh blocks; O(live bytes), and it runs only
    // after at least as many bytes were wasted, so the cost is amortised.
    std::vector<std::unique_ptr<char[]>> old = std::move(arenaBlocks_);
    arenaBlocks_.clear();
    arenaNext_ = nullptr;
    arenaLeft_ = 0;
    liveBytes_ = 0;
    wastedBytes_ = 0;
    for (NodeLinks& l : links_) {
        if (l.cells == nullptr) continue;  // a free node
        char* p = ArenaAllocate(l.cellBytes);
        std::memcpy(p, l.cells, l.cellBytes);
        l.cells = p;
    }
}

void TextTable::SetPackedCell(Node n, std::size_t column, std::string_view text) {
    std::size_t bytes = 0;
    for (std::size_t c = 0; c < Width(); ++c) bytes += PackedSize(c == column ? text : CellView(n, c));
    if (bytes > 0xFFFFFFFFu) throw std::length_error("TextTable: row too long");
    // The new row is written before the old one is released (it is read while writing).
    char* const start = ArenaAllocate(bytes);
    char* out = start;
    for (std::size_t c = 0; c < Width(); ++c) out = WritePacked(out, c == column ? text : CellView(n, c));
    ReleaseCells(n);
    links_[n].cells = start;
    links_[n].cellBytes = static_cast<std::uint32_t>(bytes);
}

template <typename CellAt>
TextTable::Node TextTable::NewNode(std::size_t count, CellAt cell) {
    const std::size_t width = Width();
    std::size_t bytes = 0;
    for (std::size_t c = 0; c < width; ++c) bytes += PackedSize(c < count ? std::string_view(cell(c)) : std::string_view());
    if (bytes > 0xFFFFFFFFu) throw std::length_error("TextTable: row too long");
    if (freeNodes_.empty() && links_.size() >= kListBit - 1) throw std::length_error("TextTable: too many rows");
    char* const start = ArenaAllocate(bytes);  // first, so a failure leaves no half-made node
    Node n;
    if (!freeNodes_.empty()) {
        n = freeNodes_.back();
        freeNodes_.pop_back();
    } else {
        // Row numbers stay below the index's list mark (checked above).
        n = static_cast<Node>(links_.size());
        links_.emplace_back();
    }
    char* out = start;
    for (std::size_t c = 0; c < width; ++c) out = WritePacked(out, c < count ? std::string_view(cell(c)) : std::string_view());
    links_[n] = NodeLinks{};
    links_[n].priority = NextPriority();
    links_[n].cells = start;
    links_[n].cellBytes = static_cast<std::uint32_t>(bytes);
    return n;
}

void TextTable::FreeNode(Node n) {
    ReleaseCells(n);
    links_[n] = NodeLinks{};
    freeNodes_.push_back(n);
}

std::size_t TextTable::InsertNode(std::size_t position, Node n) {
    GrowSlots();  // allocate before the tree changes, so a failure leaves the table as it was
    const std::size_t count = SizeOf(root_);
    if (position > count) position = count;
    if (position == count) {
        root_ = Merge(root_, n);
    } else {
        Node a, b;
        Split(root_, position, a, b);
        root_ = Merge(Merge(a, n), b);
    }
    links_[root_].parent = kNil;
    IndexAdd(n);
    return position;
}

std::vector<TextTable::Node> TextTable::InOrder() const {
    std::vector<Node> order;
    order.reserve(SizeOf(root_));
    std::vector<Node> stack;
    Node n = root_;
    while (n != kNil || !stack.empty()) {
        while (n != kNil) {
            stack.push_back(n);
            n = links_[n].left;
        }
        n = stack.back();
        stack.pop_back();
        order.push_back(n);
        n = links_[n].right;
    }
    return order;
}

void TextTable::RebuildFrom(const std::vector<Node>& order) {
    // Cartesian-tree construction in O(n) with fresh priorities.
    std::vector<Node> stack;
    for (const Node x : order) {
        links_[x].priority = NextPriority();
        links_[x].left = links_[x].right = links_[x].parent = kNil;
        Node last = kNil;
        while (!stack.empty() && links_[stack.back()].priority < links_[x].priority) {
            last = stack.back();
            stack.pop_back();
        }
        links_[x].left = last;
        if (!stack.empty()) links_[stack.back()].right = x;
        stack.push_back(x);
    }
    root_ = stack.empty() ? kNil : stack.front();
    // Sizes and parents bottom-up: a pre-order visits parents before
    // children, so its reverse visits children first.
    std::vector<Node> pre;
    pre.reserve(order.size());
    if (root_ != kNil) stack.assign(1, root_);
    else stack.clear();
    while (!stack.empty()) {
        const Node n = stack.back();
        stack.pop_back();
        pre.push_back(n);
        if (links_[n].left != kNil) stack.push_back(links_[n].left);
        if (links_[n].right != kNil) stack.push_back(links_[n].right);
    }
    for (auto it = pre.rbegin(); it != pre.rend(); ++it) Update(*it);
    if (root_ != kNil) links_[root_].parent = kNil;

    IndexClear();
    std::size_t slots = 64;
    while (slots < order.size() * 2 + 2) slots *= 2;
    slots_.assign(slots, Slot{});
    for (const Node x : order) IndexAdd(x, /*knownLast=*/true);  // in row order already
}

// ---- the key index -------------------------------------------------------
// For each first-column text, its rows in row order: one row in the slot
// itself, several in a list of keyLists_.

std::uint32_t TextTable::HashKey(std::string_view key) {
    const std::uint64_t h = std::hash<std::string_view>{}(key);
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

TextTable::Node TextTable::FirstOf(const Slot& slot) const {
    return (slot.ref & kListBit) ? keyLists_[slot.ref & ~kListBit].front() : slot.ref;
}

TextTable::Node TextTable::LastOf(const Slot& slot) const {
    return (slot.ref & kListBit) ? keyLists_[slot.ref & ~kListBit].back() : slot.ref;
}

std::size_t TextTable::FindSlot(std::string_view key, std::uint32_t hash) const {
    if (slots_.empty()) return npos;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.ref == kEmptySlot) return npos;
        if (slot.hash == hash && CellView(FirstOf(slot), 0) == key) return i;
    }
}

void TextTable::GrowSlots() {
    // Keep the load at or below one half.
    if ((usedSlots_ + 1) * 2 <= slots_.size()) return;
    const std::size_t size = slots_.empty() ? 64 : slots_.size() * 2;
    std::vector<Slot> grown(size);  // may throw; the old slots are still intact then
    const std::size_t mask = size - 1;
    for (const Slot& slot : slots_) {
        if (slot.ref == kEmptySlot) continue;
        std::size_t i = slot.hash & mask;
        while (grown[i].ref != kEmptySlot) i = (i + 1) & mask;
        grown[i] = slot;
    }
    slots_.swap(grown);
}

void TextTable::EraseSlot(std::size_t i) {
    // Backward-shift deletion keeps every probe sequence unbroken.
    const std::size_t mask = slots_.size() - 1;
    std::size_t hole = i;
    for (std::size_t j = (i + 1) & mask; slots_[j].ref != kEmptySlot; j = (j + 1) & mask) {
        const std::size_t home = slots_[j].hash & mask;
        // Move j into the hole unless its home lies cyclically in (hole, j].
        const bool stays = (hole <= j) ? (home > hole && home <= j) : (home > hole || home <= j);
        if (!stays) {
            slots_[hole] = slots_[j];
            hole = j;
        }
    }
    slots_[hole] = Slot{};
    --usedSlots_;
}

void TextTable::IndexAdd(Node n, bool knownLast) {
    const std::string_view key = CellView(n, 0);
    const std::uint32_t hash = HashKey(key);
    const std::size_t i = FindSlot(key, hash);
    if (i == npos) {
        GrowSlots();
        const std::size_t mask = slots_.size() - 1;
        std::size_t j = hash & mask;
        while (slots_[j].ref != kEmptySlot) j = (j + 1) & mask;
        slots_[j] = Slot{hash, n};
        ++usedSlots_;
        return;
    }
    Slot& slot = slots_[i];
    if (!(slot.ref & kListBit)) {
        // A second row for this key: the slot gets a list.
        const Node other = slot.ref;
        std::uint32_t list;
        if (!freeKeyLists_.empty()) {
            list = freeKeyLists_.back();
            freeKeyLists_.pop_back();
        } else {
            list = static_cast<std::uint32_t>(keyLists_.size());
            keyLists_.emplace_back();
        }
        std::vector<Node>& rows = keyLists_[list];
        rows.clear();
        if (knownLast || PositionOf(other) < PositionOf(n)) {
            rows = {other, n};
        } else {
            rows = {n, other};
        }
        slot.ref = kListBit | list;
        return;
    }
    std::vector<Node>& rows = keyLists_[slot.ref & ~kListBit];
    if (knownLast) {
        rows.push_back(n);
        return;
    }
    const std::size_t pos = PositionOf(n);
    if (PositionOf(rows.back()) < pos) {
        rows.push_back(n);
        return;
    }
    const auto it = std::partition_point(rows.begin(), rows.end(),
                                         [&](Node other) { return PositionOf(other) < pos; });
    rows.insert(it, n);
}

void TextTable::IndexRemove(Node n) {
    const std::string_view key = CellView(n, 0);
    const std::size_t i = FindSlot(key, HashKey(key));
    if (i == npos) return;
    Slot& slot = slots_[i];
    if (!(slot.ref & kListBit)) {
        if (slot.ref == n) EraseSlot(i);
        return;
    }
    const std::uint32_t list = slot.ref & ~kListBit;
    std::vector<Node>& rows = keyLists_[list];
    if (rows.back() == n) {
        rows.pop_back();
    } else {
        const std::size_t pos = PositionOf(n);
        const auto it = std::partition_point(rows.begin(), rows.end(),
                                             [&](Node other) { return PositionOf(other) < pos; });
        if (it != rows.end() && *it == n) rows.erase(it);
    }
    if (rows.size() == 1) {
        // Back to a single row held in the slot.
        slot.ref = rows.front();
        rows.clear();
        rows.shrink_to_fit();
        freeKeyLists_.push_back(list);
    }
}

void TextTable::IndexClear() {
    slots_.clear();
    slots_.shrink_to_fit();
    usedSlots_ = 0;
    keyLists_.clear();
    freeKeyLists_.clear();
}

// ---- public operations ---------------------------------------------------

std::size_t TextTable::AppendRow(std::initializer_list<std::string_view> cells) {
    return InsertRow(npos, cells);
}

std::size_t TextTable::AppendRow(const std::vector<std::string>& cells) { return InsertRow(npos, cells); }

std::size_t TextTable::InsertRow(std::size_t position, std::initializer_list<std::string_view> cells) {
    auto lock = Lock();
    const std::string_view* data = cells.begin();
    return InsertNode(position, NewNode(cells.size(), [data](std::size_t c) { return data[c]; }));
}

std::size_t TextTable::InsertRow(std::size_t position, const std::vector<std::string>& cells) {
    auto lock = Lock();
    return InsertNode(position, NewNode(cells.size(), [&cells](std::size_t c) -> std::string_view { return cells[c]; }));
}

bool TextTable::SetCell(std::size_t row, std::size_t column, std::string text) {
    auto lock = Lock();
    if (column >= columns_.size()) return false;
    const Node n = NodeAt(row);
    if (n == kNil) return false;
    if (column == 0) {
        if (CellView(n, 0) == text) return true;
        IndexRemove(n);
        SetPackedCell(n, 0, text);
        IndexAdd(n);
    } else {
        SetPackedCell(n, column, text);
    }
    MaybeCompact();
    return true;
}

std::string TextTable::Cell(std::size_t row, std::size_t column) const {
    auto lock = Lock();
    if (column >= columns_.size()) return {};
    const Node n = NodeAt(row);
    return n == kNil ? std::string() : std::string(CellView(n, column));
}

std::uint64_t TextTable::CellU64(std::size_t row, std::size_t column) const {
    return ParseDecimalU64(Cell(row, column));
}

std::int32_t TextTable::CellI32(std::size_t row, std::size_t column) const {
    return ParseDecimalI32(Cell(row, column));
}

std::vector<std::string> TextTable::Row(std::size_t row) const {
    auto lock = Lock();
    const Node n = NodeAt(row);
    if (n == kNil) return {};
    std::vector<std::string> out(columns_.size());
    for (std::size_t c = 0; c < columns_.size(); ++c) out[c] = CellView(n, c);
    return out;
}

std::size_t TextTable::FindFirst(std::string_view key) const {
    auto lock = Lock();
    const std::size_t i = FindSlot(key, HashKey(key));
    return i == npos ? npos : PositionOf(FirstOf(slots_[i]));
}

std::size_t TextTable::FindNext(std::string_view key, std::size_t afterRow) const {
    auto lock = Lock();
    const std::size_t i = FindSlot(key, HashKey(key));
    if (i == npos) return npos;
    const Slot& slot = slots_[i];
    if (afterRow == npos) return PositionOf(FirstOf(slot));
    if (!(slot.ref & kListBit)) {
        const std::size_t pos = PositionOf(slot.ref);
        return pos > afterRow ? pos : npos;
    }
    const std::vector<Node>& rows = keyLists_[slot.ref & ~kListBit];
    const auto next = std::partition_point(rows.begin(), rows.end(),
                                           [&](Node other) { return PositionOf(other) <= afterRow; });
    return next == rows.end() ? npos : PositionOf(*next);
}

std::size_t TextTable::FindLast(std::string_view key) const {
    auto lock = Lock();
    const std::size_t i = FindSlot(key, HashKey(key));
    return i == npos ? npos : PositionOf(LastOf(slots_[i]));
}

std::size_t TextTable::CountKey(std::string_view key) const {
    auto lock = Lock();
    const std::size_t i = FindSlot(key, HashKey(key));
    if (i == npos) return 0;
    const Slot& slot = slots_[i];
    return (slot.ref & kListBit) ? keyLists_[slot.ref & ~kListBit].size() : 1;
}

bool TextTable::DeleteRow(std::size_t row) {
    auto lock = Lock();
    const std::size_t count = SizeOf(root_);
    if (row >= count) return false;
    // The index needs the row's position, so it forgets the row first.
    IndexRemove(NodeAt(row));
    Node a, b, mid, c;
    Split(root_, row, a, b);
    Split(b, 1, mid, c);
    root_ = Merge(a, c);
    if (root_ != kNil) links_[root_].parent = kNil;
    FreeNode(mid);
    MaybeCompact();
    return true;
}

void TextTable::DeleteAll() {
    auto lock = Lock();
    links_.clear();
    links_.shrink_to_fit();
    arenaBlocks_.clear();
    arenaBlocks_.shrink_to_fit();
    arenaNext_ = nullptr;
    arenaLeft_ = 0;
    liveBytes_ = 0;
    wastedBytes_ = 0;
    freeNodes_.clear();
    freeNodes_.shrink_to_fit();
    IndexClear();
    root_ = kNil;
}

std::size_t TextTable::RemoveRowsWhere(std::size_t column, std::string_view text,
                                       const std::function<void(std::size_t)>& onRow) {
    auto lock = Lock();
    if (column >= columns_.size()) {
        // Nothing can match, but the rows are still walked for the progress.
        if (onRow) {
            const std::size_t count = SizeOf(root_);
            for (std::size_t i = 1; i <= count; ++i) onRow(i);
        }
        return 0;
    }
    const std::vector<Node> order = InOrder();
    std::vector<bool> drop(order.size(), false);
    std::size_t removed = 0;
    std::size_t examined = 0;
    for (std::size_t i = order.size(); i-- > 0;) {
        if (CellView(order[i], column) == text) {
            drop[i] = true;
            ++removed;
        }
        if (onRow) onRow(++examined);
    }
    if (removed == 0) return 0;
    std::vector<Node> kept;
    kept.reserve(order.size() - removed);
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (drop[i]) FreeNode(order[i]);
        else kept.push_back(order[i]);
    }
    RebuildFrom(kept);
    MaybeCompact();
    return removed;
}

void TextTable::SortByColumn(std::size_t column, SortRule rule) {
    auto lock = Lock();
    if (column >= columns_.size()) return;
    std::vector<Node> order = InOrder();
    if (order.size() < 2) return;
    std::stable_sort(order.begin(), order.end(), [&](Node a, Node b) {
        return CompareByRule(rule, CellView(a, column), CellView(b, column)) < 0;
    });
    RebuildFrom(order);
}

void TextTable::ForEachRow(const std::function<void(std::size_t, std::span<const std::string_view>)>& fn) const {
    auto lock = Lock();
    const std::vector<Node> order = InOrder();
    std::vector<std::string_view> cells(columns_.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        for (std::size_t c = 0; c < cells.size(); ++c) cells[c] = CellView(order[i], c);
        fn(i, std::span<const std::string_view>(cells));
    }
}

std::vector<std::vector<std::string>> TextTable::Snapshot() const {
    std::vector<std::vector<std::string>> rows;
    ForEachRow([&](std::size_t, std::span<const std::string_view> cells) {
        rows.emplace_back(cells.begin(), cells.end());
    });
    return rows;
}

}  // namespace torvane
