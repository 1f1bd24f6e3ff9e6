#include "fsrecovery/store/found_items.h"

#include "base/large_buffers.h"
#include "disk/drive_text.h"
#include "fsrecovery/store/name_rules.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace torvane {
namespace {

// Program-wide: numbers the folders that reach the tree without a name
// ("DIR_<n>"); starts at 1 and continues across scans of one program run.
std::atomic<int> g_unnamedDirCounter{1};

constexpr std::uint64_t kNoSequence = ~std::uint64_t{0};

bool BeginsWithDir(std::string_view text) { return text.substr(0, 3) == "DIR"; }

// FNV-1a over the parent id and the text: 64 bits make a false match between
// two different names of one parent practically impossible.
std::uint64_t ChildTextKey(TreeNodeId parent, std::string_view text)
{
    std::uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](unsigned char c) {
        h ^= c;
        h *= 0x100000001b3ull;
    };
    for (unsigned i = 0; i < sizeof parent; ++i)
        mix(static_cast<unsigned char>(parent >> (8 * i)));
    for (char c : text)
        mix(static_cast<unsigned char>(c));
    return h;
}

std::uint64_t ParentSelfKey(std::uint32_t parentId, std::uint32_t selfId)
{
    return (static_cast<std::uint64_t>(parentId) << 32) | selfId;
}

// The stable ascending order of the rows of a table by a key of each:
// `order` gets, position by position, the row that goes there. Keys below
// 2^32 (every folder id of a real volume) are packed with their row's
// position in one word and sorted by radix over the key's bytes, passing over
// the bytes every key shares: linear in the rows. False (nothing done) when a
// key is wider or the table too long; the caller sorts otherwise.
template <class KeyOf>
bool StableOrderByKey(std::size_t n, KeyOf keyOf, std::vector<std::uint64_t>& order)
{
    if (n > 0xFFFFFFFFu)
        return false;
    order.clear();
    ReserveLarge(order, n, true);   // filled at once: its pages mapped in one call
    std::array<std::array<std::size_t, 256>, 4> counts{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = keyOf(i);
        if (key > 0xFFFFFFFFu)
            return false;
        order.push_back(key << 32 | i);
        for (unsigned b = 0; b < 4; ++b)
            ++counts[b][(key >> (8 * b)) & 0xFF];
    }
    std::vector<std::uint64_t> tmp;
    for (unsigned b = 0; b < 4; ++b) {
        std::array<std::size_t, 256>& count = counts[b];
        if (std::find(count.begin(), count.end(), n) != count.end())
            continue;   // every key has the same byte here
        std::size_t sum = 0;
        for (std::size_t& c : count) {
            const std::size_t here = c;
            c = sum;
            sum += here;
        }
        if (tmp.empty()) {
            ReserveLarge(tmp, n, true);
            tmp.resize(n);
        }
        const unsigned shift = 32 + 8 * b;
        for (const std::uint64_t k : order)
            tmp[count[(k >> shift) & 0xFF]++] = k;
        order.swap(tmp);
    }
    return true;
}

// Moves the rows of `rows` into `order` (StableOrderByKey) in place: every
// row moved once along the cycles of the permutation, no second table (whose
// fresh pages would each cost a fault). `order` is used up (its keys are
// dropped and its entries marked as their rows are placed).
template <class Row>
void ReorderInPlace(std::vector<Row>& rows, std::vector<std::uint64_t>& order)
{
    constexpr std::uint64_t kPlaced = std::uint64_t{1} << 63;
    const std::size_t n = order.size();
    for (std::uint64_t& k : order)
        k &= 0xFFFFFFFFu;
    for (std::size_t start = 0; start < n; ++start) {
        if ((order[start] & kPlaced) != 0)
            continue;
        std::size_t from = static_cast<std::size_t>(order[start] & 0xFFFFFFFFu);
        if (from == start) {
            order[start] = kPlaced;
            continue;
        }
        Row held = std::move(rows[start]);
        std::size_t at = start;
        while (true) {
            order[at] = kPlaced;
            if (from == start) {
                rows[at] = std::move(held);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
            from = static_cast<std::size_t>(order[at] & 0xFFFFFFFFu);
        }
    }
}

}  // namespace

// ---- PendingDirectoryTable ---------------------------------------------------

std::size_t PendingDirectoryTable::Add(PendingDirectory row)
{
    sorted_ = false;
    rangesValid_ = false;
    ReserveOneMore(rows_);
    if (rows_.empty()) {
        rows_.push_back(std::move(row));
        return 0;
    }
    // In before the last row: the first row ever added stays last.
    auto pos = rows_.insert(rows_.end() - 1, std::move(row));
    return static_cast<std::size_t>(pos - rows_.begin());
}

void PendingDirectoryTable::Reserve(std::size_t n)
{
    ReserveLarge(rows_, n);
}

void PendingDirectoryTable::PurgePlaced()
{
    std::size_t before = rows_.size();
    std::erase_if(rows_, [](const PendingDirectory& r) { return r.placed; });
    if (rows_.size() != before)
        rangesValid_ = false;
    if (rows_.empty())
        std::vector<PendingDirectory>().swap(rows_);   // every folder placed: the room goes back
}

void PendingDirectoryTable::SortByParent()
{
    // A stable sort by parent; every row moves once.
    bool ordered = true;
    for (std::size_t i = 1; i < rows_.size() && ordered; ++i)
        ordered = rows_[i - 1].parent <= rows_[i].parent;
    if (!ordered) {
        std::vector<std::uint64_t> order;
        if (StableOrderByKey(rows_.size(), [this](std::size_t i) { return rows_[i].parent; }, order))
            ReorderInPlace(rows_, order);
        else
            std::stable_sort(rows_.begin(), rows_.end(),
                             [](const PendingDirectory& a, const PendingDirectory& b) { return a.parent < b.parent; });
    }
    sorted_ = true;
    rangesValid_ = false;
}

std::pair<std::size_t, std::size_t> PendingDirectoryTable::ParentRange(std::uint64_t parent)
{
    if (!rangesValid_) {
        bool ordered = true;
        for (std::size_t i = 1; i < rows_.size() && ordered; ++i)
            ordered = rows_[i - 1].parent <= rows_[i].parent;
        if (!ordered)
            SortByParent();
        // parent -> first row of its run.
        runStart_.Clear();
        runStart_.Reserve(rows_.size());
        for (std::size_t i = rows_.size(); i-- > 0;)
            if (i == 0 || rows_[i - 1].parent != rows_[i].parent)
                runStart_.Emplace(rows_[i].parent, static_cast<std::uint32_t>(i));
        rangesValid_ = true;
    }
    const std::uint32_t* first = runStart_.Find(parent);
    if (!first)
        return {0, 0};
    std::size_t end = *first;
    while (end < rows_.size() && rows_[end].parent == parent)
        ++end;
    return {*first, end};
}

void PendingDirectoryTable::Clear()
{
    rows_.clear();
    sorted_ = false;
    rangesValid_ = false;
    runStart_.Clear();
}

// ---- FoundEntryStore ---------------------------------------------------------

void FoundEntryStore::push_back(FoundEntry entry)
{
    ReserveOneMore(entries_);
    entries_.push_back(std::move(entry));
    Invalidate();
}

void FoundEntryStore::reserve(std::size_t n)
{
    // The scans reserve what they are about to fill: the pages are mapped in
    // one call rather than one fault each.
    ReserveLarge(entries_, n, true);
}

void FoundEntryStore::SortByParent()
{
    if (!sorted_) {
        // Found in the order of the volume's records or directories: often
        // in folder order already.
        bool ordered = true;
        for (std::size_t i = 1; i < entries_.size() && ordered; ++i)
            ordered = entries_[i - 1].parentId <= entries_[i].parentId;
        std::vector<std::uint64_t> order;
        if (!ordered &&
            StableOrderByKey(entries_.size(), [this](std::size_t i) { return entries_[i].parentId; }, order)) {
            // The entries are gathered into a table of the exact size in
            // their new order: the reads jump about the old table, but each
            // is independent of the one before, so many are under way at
            // once (moving them along the permutation's cycles made every
            // step wait for the one before), and the writes go front to back
            // through pages mapped in one call.
            std::vector<FoundEntry> sorted;
            ReserveLarge(sorted, entries_.size(), true);
            constexpr std::size_t kAhead = 8;
            const std::size_t n = order.size();
            for (std::size_t i = 0; i < n; ++i) {
                if (i + kAhead < n)
                    __builtin_prefetch(&entries_[static_cast<std::size_t>(order[i + kAhead] & 0xFFFFFFFFu)]);
                sorted.push_back(std::move(entries_[static_cast<std::size_t>(order[i] & 0xFFFFFFFFu)]));
            }
            std::vector<std::uint64_t>().swap(order);
            entries_.swap(sorted);
        } else if (!ordered) {
            std::stable_sort(entries_.begin(), entries_.end(),
                             [](const FoundEntry& a, const FoundEntry& b) { return a.parentId < b.parentId; });
        }
        {
            // Much room the growth left is not needed any more (a scan's
            // end). A little is kept: its pages were never touched, and a
            // copy into a table of the exact size would touch as many new
            // pages as the store holds.
            if (entries_.capacity() - entries_.size() > entries_.size() / 4) {
                std::vector<FoundEntry> exact;
                ReserveLarge(exact, entries_.size(), true);
                for (FoundEntry& e : entries_)
                    exact.push_back(std::move(e));
                entries_.swap(exact);
            }
        }
        sorted_ = true;
        indexed_ = false;
    }
    if (!indexed_)
        BuildIndex();
}

void FoundEntryStore::BuildIndex()
{
    runs_.Clear();
    // Runs are kept as 32-bit first and count; a store too large for that
    // (never met: 4 billion entries) is searched by halving instead.
    if (entries_.size() > 0xFFFFFFFFu)
        return;
    for (std::size_t i = 0; i < entries_.size();) {
        std::size_t j = i + 1;
        while (j < entries_.size() && entries_[j].parentId == entries_[i].parentId)
            ++j;
        runs_.Emplace(entries_[i].parentId, (static_cast<std::uint64_t>(i) << 32) | (j - i));
        i = j;
    }
    indexed_ = true;
}

namespace {

// Stable partition of rows [first, last): the rows for which `goesFirst`
// holds, then the others, each part in its former order. In place, with
// room aside for the smaller part only.
template <class Row, class Pred>
void PartitionStable(std::vector<Row>& rows, std::size_t first, std::size_t last, Pred goesFirst)
{
    std::size_t firstCount = 0;
    for (std::size_t r = first; r < last; ++r)
        firstCount += goesFirst(rows[r]) ? 1 : 0;
    const std::size_t secondCount = last - first - firstCount;
    if (firstCount == 0 || secondCount == 0)
        return;
    std::vector<Row> aside;
    if (secondCount <= firstCount) {
        aside.reserve(secondCount);
        std::size_t w = first;
        for (std::size_t r = first; r < last; ++r) {
            if (!goesFirst(rows[r]))
                aside.push_back(std::move(rows[r]));
            else if (w++ != r)
                rows[w - 1] = std::move(rows[r]);
        }
        for (Row& row : aside)
            rows[w++] = std::move(row);
    } else {
        aside.reserve(firstCount);
        std::size_t w = last;
        for (std::size_t r = last; r-- > first;) {
            if (goesFirst(rows[r]))
                aside.push_back(std::move(rows[r]));   // last first
            else if (--w != r)
                rows[w] = std::move(rows[r]);
        }
        for (std::size_t k = 0; k < aside.size(); ++k)
            rows[first + k] = std::move(aside[aside.size() - 1 - k]);
    }
}

}  // namespace

std::size_t FoundEntryStore::Refile(const std::function<bool(const FoundEntry&)>& lost, std::uint64_t parentId)
{
    // Sorted: the entries of folders below `parentId` are a prefix of the
    // store, those of folders above it a suffix.
    std::size_t below = 0, above = entries_.size();
    if (sorted_) {
        below = static_cast<std::size_t>(
            std::lower_bound(entries_.begin(), entries_.end(), parentId,
                             [](const FoundEntry& e, std::uint64_t p) { return e.parentId < p; }) -
            entries_.begin());
        above = static_cast<std::size_t>(
            std::upper_bound(entries_.begin() + static_cast<std::ptrdiff_t>(below), entries_.end(), parentId,
                             [](std::uint64_t p, const FoundEntry& e) { return p < e.parentId; }) -
            entries_.begin());
    }
    std::size_t moved = 0;
    for (FoundEntry& e : entries_) {
        if (e.parentId == parentId || !lost(e))
            continue;
        e.parentId = parentId;
        ++moved;
    }
    if (moved == 0)
        return 0;
    if (!sorted_) {
        Invalidate();
        return moved;
    }
    // The entries below `parentId` keep their order, those above it follow
    // the folder's run, and the run is the moved entries of the prefix, the
    // folder's own entries and the moved entries of the suffix, each in
    // their former order (what a stable sort would give): the prefix puts
    // its moved entries last, the suffix puts them first.
    PartitionStable(entries_, 0, below, [parentId](const FoundEntry& e) { return e.parentId != parentId; });
    PartitionStable(entries_, above, entries_.size(), [parentId](const FoundEntry& e) { return e.parentId == parentId; });
    indexed_ = false;
    return moved;
}

std::pair<std::size_t, std::size_t> FoundEntryStore::Range(std::uint64_t parentId)
{
    SortByParent();
    if (indexed_) {
        const std::uint64_t* run = runs_.Find(parentId);
        if (!run)
            return {0, 0};
        const std::size_t first = static_cast<std::size_t>(*run >> 32);
        return {first, first + static_cast<std::size_t>(*run & 0xFFFFFFFFu)};
    }
    auto lo = std::lower_bound(entries_.begin(), entries_.end(), parentId,
                               [](const FoundEntry& e, std::uint64_t p) { return e.parentId < p; });
    auto hi = std::upper_bound(lo, entries_.end(), parentId,
                               [](std::uint64_t p, const FoundEntry& e) { return p < e.parentId; });
    return {static_cast<std::size_t>(lo - entries_.begin()), static_cast<std::size_t>(hi - entries_.begin())};
}

// ---- RootDirectoryNameTable --------------------------------------------------

void RootDirectoryNameTable::Add(RootDirectoryName row)
{
    byCluster_[row.self].push_back(rows_.size());
    rows_.push_back(std::move(row));
    taken_.push_back(false);
    ++live_;
}

bool RootDirectoryNameTable::TakeLast(std::uint32_t cluster, RootDirectoryName& out)
{
    auto it = byCluster_.find(cluster);
    if (it == byCluster_.end())
        return false;
    auto& idx = it->second;
    while (!idx.empty() && taken_[idx.back()])
        idx.pop_back();
    if (idx.empty())
        return false;
    std::size_t i = idx.back();
    idx.pop_back();
    taken_[i] = true;
    --live_;
    out = rows_[i];
    return true;
}

bool RootDirectoryNameTable::TakeLastOf(std::uint32_t cluster, std::uint64_t fsKey, RootDirectoryName& out)
{
    auto it = byCluster_.find(cluster);
    if (it == byCluster_.end())
        return false;
    auto& idx = it->second;
    while (!idx.empty() && taken_[idx.back()])
        idx.pop_back();
    // Rows of other file systems stay for their own directories (few per cluster).
    for (std::size_t k = idx.size(); k-- > 0;) {
        const std::size_t i = idx[k];
        if (taken_[i] || rows_[i].fsKey != fsKey)
            continue;
        idx.erase(idx.begin() + static_cast<std::ptrdiff_t>(k));
        taken_[i] = true;
        --live_;
        out = rows_[i];
        return true;
    }
    return false;
}

std::vector<RootDirectoryName> RootDirectoryNameTable::LiveRows() const
{
    std::vector<RootDirectoryName> out;
    out.reserve(live_);
    for (std::size_t i = 0; i < rows_.size(); ++i)
        if (!taken_[i])
            out.push_back(rows_[i]);
    return out;
}

void RootDirectoryNameTable::Clear()
{
    rows_.clear();
    taken_.clear();
    byCluster_.clear();
    live_ = 0;
}

// ---- FolderIndex -------------------------------------------------------------

void FolderIndex::Add(std::uint64_t id, TreeNodeId item)
{
    items_.Emplace(id, item);
}

TreeNodeId FolderIndex::Find(std::uint64_t id) const
{
    const TreeNodeId* item = items_.Find(id);
    return item ? *item : kNoTreeNode;
}

// ---- ScanResults -------------------------------------------------------------

ScanResults::ScanResults() = default;
ScanResults::~ScanResults()
{
    // The tree holds pointers to the records: empty it first.
    tree_.Clear();
}

std::unique_lock<std::recursive_mutex> ScanResults::Lock() const
{
    return std::unique_lock<std::recursive_mutex>(mutex_);
}

void ScanResults::SetFsName(const std::string& fsName)
{
    SetFsKind(FsKindFromText(fsName));
}

void ScanResults::SetFsKind(FsKind kind)
{
    auto lk = Lock();
    fsKind_ = kind;
}

FsKind ScanResults::Kind() const
{
    auto lk = Lock();
    return fsKind_;
}

std::string ScanResults::FsName() const
{
    return std::string(FsKindText(Kind()));
}

bool ScanResults::IsFat() const
{
    return IsFatKind(Kind());
}

void ScanResults::SetRecoveryMode(int mode) { auto lk = Lock(); recoveryMode_ = mode; }
int ScanResults::RecoveryMode() const { auto lk = Lock(); return recoveryMode_; }
void ScanResults::SetLogLoading(bool on) { auto lk = Lock(); logLoading_ = on; }
bool ScanResults::LogLoading() const { auto lk = Lock(); return logLoading_; }
void ScanResults::SetLogLoadedFlag(bool on) { auto lk = Lock(); logLoaded_ = on; }
bool ScanResults::LogLoadedFlag() const { auto lk = Lock(); return logLoaded_; }
void ScanResults::SetFileSystemCount(std::uint64_t n) { auto lk = Lock(); fileSystemCount_ = n; }
void ScanResults::SetExfatRootCluster(std::uint32_t cluster) { auto lk = Lock(); exfatRootCluster_ = cluster; }
std::uint32_t ScanResults::ExfatRootCluster() const { auto lk = Lock(); return exfatRootCluster_; }
std::time_t ScanResults::ScanTime() const { auto lk = Lock(); return scanTime_ ? scanTime_ : CurrentScanClock(); }
void ScanResults::SetScanTime(std::time_t t) { auto lk = Lock(); scanTime_ = t; }
void ScanResults::SetEvents(ResultsEvents* events) { auto lk = Lock(); events_ = events; }
ResultsEvents* ScanResults::Events() const { auto lk = Lock(); return events_; }

RecoveredFolder* ScanResults::FirstFolder()
{
    auto lk = Lock();
    return folders_.empty() ? nullptr : &folders_.front();
}

RecoveredFolder* ScanResults::FolderAt(std::size_t sequence)
{
    auto lk = Lock();
    return sequence < folders_.size() ? &folders_[sequence] : nullptr;
}

RecoveredFolder* ScanResults::FolderOfItem(TreeNodeId item) const
{
    return tree_.PayloadAs<RecoveredFolder>(item);
}

int ScanResults::NextUnnamedDirNumber()
{
    return g_unnamedDirCounter.fetch_add(1);
}

void ScanResults::IndexChildText(TreeNodeId parent, const std::string& text, int delta)
{
    if (!BeginsWithDir(text))
        return;
    std::uint64_t key = ChildTextKey(parent, text);
    if (delta > 0) {
        if (std::uint32_t* n = dirChildTexts_.Find(key)) {
            ++*n;
        } else {
            if (dirChildTexts_.Size() == 0)
                dirChildTexts_.Reserve(reservedFolders_);   // room made only where such names occur
            dirChildTexts_.Emplace(key, 1);
        }
    } else if (std::uint32_t* n = dirChildTexts_.Find(key)) {
        if (--*n == 0)
            dirChildTexts_.Erase(key);
    }
}

bool ScanResults::FindDirNameChild(TreeNodeId parentItem, std::string_view name, TreeNodeId* child) const
{
    auto lk = Lock();
    if (parentItem == kNoTreeNode || !BeginsWithDir(name))
        return false;
    if (!dirChildTexts_.Find(ChildTextKey(parentItem, name)))
        return false;
    if (child)
        *child = tree_.FindChild(parentItem, name);
    return true;
}

void ScanResults::ReserveFolders(std::size_t n)
{
    auto lk = Lock();
    treeTable_.Reserve(n);
    reservedFolders_ = n;
}

void ScanResults::RenameFolder(RecoveredFolder& folder, const std::string& name)
{
    auto lk = Lock();
    TreeNodeId parent = tree_.Parent(folder.treeItem);
    IndexChildText(parent, folder.name, -1);
    folder.name = name;
    tree_.SetText(folder.treeItem, name);
    IndexChildText(parent, name, +1);
}

TreeNodeId ScanResults::EnsureRootItem()
{
    auto lk = Lock();
    TreeNodeId root = tree_.RootItem();
    if (root != kNoTreeNode && tree_.Text(root) == kRootItemText)
        return root;
    return tree_.InsertChild(kNoTreeNode, TreeNodeInit{kRootItemText, nullptr, 0, CheckState::Unchecked});
}

void ScanResults::ResetRootItemText()
{
    auto lk = Lock();
    TreeNodeId root = tree_.RootItem();
    if (root == kNoTreeNode)
        return;
    tree_.SetText(root, kRootItemText);
    tree_.SetImage(root, 0);
}

void ScanResults::ClearFoundStores()
{
    auto lk = Lock();
    treeTable_.Clear();
    keyedFolderClusters_.clear();
    keyedFrom_ = folders_.size();
    keyedClustersBuilt_ = false;
    foundEntries_.clear();
    dirList_.Clear();
}

void ScanResults::ForgetResults()
{
    auto lk = Lock();
    tree_.Clear();
    folders_.clear();
    foldersByParentSelf_.clear();
    nextSameParentSelf_.clear();
    parentSelfIndexBuilt_ = false;
    dirChildTexts_.Clear();
    ClearFoundStores();
    dirNameList_.Clear();
    miscFolderItem_ = kNoTreeNode;
    severalFolders_ = false;
    logLoaded_ = false;
    exfatRootCluster_ = 0;
    FoundFolderCount = 0;
    FoundFileCount = 0;
    CurrentScanSector = 0;
    scanTime_ = CurrentScanClock();
}

std::size_t ScanResults::AddPendingDirectory(std::string name, std::uint64_t sector, std::uint64_t selfId,
                                             std::uint64_t parentId, std::uint64_t date, std::uint64_t time)
{
    PendingDirectory row;
    row.name = name.empty() ? "DIR_" + std::to_string(selfId) : std::move(name);
    row.sector = sector;
    row.self = selfId;
    row.parent = parentId;
    row.date = date;
    row.time = time;
    auto lk = Lock();
    return dirList_.Add(std::move(row));
}

std::size_t ScanResults::AddPendingRow(PendingDirectory row)
{
    if (row.name.empty())
        row.name = "DIR_" + std::to_string(row.self);
    auto lk = Lock();
    return dirList_.Add(std::move(row));
}

void ScanResults::SortPendingDirectories()
{
    auto lk = Lock();
    dirList_.SortByParent();
}

void ScanResults::PurgePlacedPendingDirectories(ScanSink* sink)
{
    auto lk = Lock();
    if (sink) {
        sink->ProgressRange(0, dirList_.Count());
        sink->Progress(dirList_.Count());
    }
    dirList_.PurgePlaced();
}

void ScanResults::SortFoundEntries()
{
    auto lk = Lock();
    foundEntries_.SortByParent();
}

std::pair<std::size_t, std::size_t> ScanResults::FoundEntryRange(std::uint64_t parentId)
{
    auto lk = Lock();
    return foundEntries_.Range(parentId);
}

std::size_t ScanResults::FoundEntryCount(std::uint64_t parentId)
{
    auto lk = Lock();
    return foundEntries_.CountOf(parentId);
}

bool ScanResults::IsIndexedFolderCluster(std::uint32_t cluster) const
{
    auto lk = Lock();
    return treeTable_.Contains(cluster);
}

bool ScanResults::FoldersKeyedByFileSystem() const
{
    auto lk = Lock();
    return recoveryMode_ == 2 && fileSystemCount_ > 1 && IsFatKind(fsKind_);
}

bool ScanResults::IsIndexedFolderCluster(std::uint32_t cluster, std::uint64_t fsKey) const
{
    auto lk = Lock();
    if (!FoldersKeyedByFileSystem())
        return treeTable_.Contains(cluster);
    BuildKeyedFolderClusters();
    return keyedFolderClusters_.count({fsKey, cluster}) != 0;
}

void ScanResults::BuildKeyedFolderClusters() const
{
    if (keyedClustersBuilt_)
        return;
    keyedFolderClusters_.clear();
    for (std::size_t seq = keyedFrom_; seq < folders_.size(); ++seq) {
        const RecoveredFolder& rec = folders_[seq];
        if (rec.fatCluster)
            keyedFolderClusters_.insert({rec.fsKey, rec.selfId});
    }
    keyedClustersBuilt_ = true;
}

TreeNodeId ScanResults::InsertRecoveredFolder(TreeNodeId parentItem, std::string name, std::uint64_t selfId,
                                              std::uint64_t date, std::uint64_t time, std::uint64_t parentId,
                                              std::uint32_t deleted, std::uint64_t fsKey,
                                              std::uint64_t knownFileCount)
{
    auto lk = Lock();
    auto treeLock = tree_.Lock();
    const bool fat = IsFatKind(fsKind_);

    // 1. Name.
    name = TrimWhite(name);
    if (name.empty())
        name = "DIR_" + std::to_string(selfId);

    // 2. Root normalisation: 0 is the FAT root, 5 the NTFS root. On FAT a
    // real folder may sit at cluster 5, so only the miscellaneous folder's
    // parent 5 is taken for the root there. (exFAT root children keep the
    // root's cluster as their parent.)
    if (fat) {
        if (parentId == kNtfsRootId && selfId == kMiscFolderId)
            parentId = 0;
    } else if (parentId == 0) {
        parentId = kNtfsRootId;
    }

    // 3. The miscellaneous folder.
    const bool isMiscName = name == kMiscFolderName;
    if (!logLoaded_ && isMiscName) {
        if (selfId != kMiscFolderId)
            return kNoTreeNode;
        if (miscFolderItem_ != kNoTreeNode && tree_.IsValid(miscFolderItem_))
            return miscFolderItem_;
    }

    // 4. Parent.
    if (parentItem == kNoTreeNode || !tree_.IsValid(parentItem) || tree_.NodeCount() == 0) {
        TreeNodeId root = tree_.RootItem();
        if (root == kNoTreeNode || tree_.Text(root) != kRootItemText) {
            root = tree_.InsertChild(kNoTreeNode, TreeNodeInit{kRootItemText, nullptr, 0, CheckState::Unchecked});
            tree_.RequestExpand(root);
        }
        parentItem = root;
    }

    // 5. Folder index.
    bool indexAfterInsert = false;
    if (logLoading_) {
        indexAfterInsert = fat;
    } else {
        TreeNodeId existing = treeTable_.Find(selfId);
        if (existing == kNoTreeNode) {
            indexAfterInsert = true;
        } else {
            bool otherFileSystem = false;
            if (recoveryMode_ == 2 && fileSystemCount_ > 1 && fat) {
                const RecoveredFolder* rec = FolderOfItem(existing);
                otherFileSystem = rec && rec->fsKey != fsKey;
            }
            if (!otherFileSystem)
                return existing;
            // A folder of another file system found in Deep Search: it gets
            // its own item; the index keeps the first folder's row.
        }
    }

    // 6. Name clash with a "DIR..." sibling.
    if (!logLoaded_ && FindDirNameChild(parentItem, name))
        name += "_" + std::to_string(selfId);

    // 7-8. Tree item, unchecked, folder image.
    TreeNodeId item = tree_.InsertChild(parentItem, TreeNodeInit{name, nullptr, 1, CheckState::Unchecked});
    if (item == kNoTreeNode)
        return kNoTreeNode;
    IndexChildText(parentItem, name, +1);
    TreeNodeId root = tree_.RootItem();
    if (item == root && name.rfind(kRootItemText, 0) == 0)
        tree_.SetImage(item, 0);
    if (root != kNoTreeNode)
        tree_.SetCheck(root, CheckState::Unchecked);
    if (events_)
        events_->OnLiveFolder(name);
    if (isMiscName && selfId == kMiscFolderId)
        miscFolderItem_ = item;

    // 9. Index completion.
    if (indexAfterInsert)
        treeTable_.Add(selfId, item);
    if (fat && keyedClustersBuilt_)
        keyedFolderClusters_.insert({fsKey, static_cast<std::uint32_t>(selfId)});

    // 10. Record.
    RecoveredFolder& rec = folders_.emplace_back();
    rec.name = name;
    rec.treeItem = item;
    rec.selfId = static_cast<std::uint32_t>(selfId);
    rec.parentId = static_cast<std::uint32_t>(parentId);
    rec.fatCluster = fat;
    rec.date = date;
    rec.time = time;
    rec.deleted = deleted;
    rec.fsKey = fsKey;
    rec.sequence = folders_.size() - 1;
    if (folders_.size() >= 2)
        folders_[folders_.size() - 2].next = &rec;
    if (parentSelfIndexBuilt_)
        IndexParentSelf(rec);
    tree_.SetPayload(item, &rec);

    // 11. The first folder of an empty tree opens its parent.
    if (tree_.NodeCount() == 2)
        tree_.RequestExpand(parentItem);

    // The live list may show the new FAT folder's files.
    if (fat && knownFileCount == 0 && !logLoading_ && events_)
        events_->OnNewFatFolder(rec.selfId);
    return item;
}

void ScanResults::IndexParentSelf(const RecoveredFolder& rec)
{
    nextSameParentSelf_.resize(folders_.size(), kNoSequence);
    auto [pair, fresh] = foldersByParentSelf_.try_emplace(ParentSelfKey(rec.parentId, rec.selfId), rec.sequence,
                                                          rec.sequence);
    if (!fresh) {
        nextSameParentSelf_[pair->second.second] = rec.sequence;
        pair->second.second = rec.sequence;
    }
}

// The naming pass's index is built at its first use, after the scan, and
// kept up to date from then on.
void ScanResults::BuildParentSelfIndex()
{
    if (parentSelfIndexBuilt_)
        return;
    foldersByParentSelf_.clear();
    nextSameParentSelf_.assign(folders_.size(), kNoSequence);
    for (const RecoveredFolder& rec : folders_)
        IndexParentSelf(rec);
    parentSelfIndexBuilt_ = true;
}

RecoveredFolder* ScanResults::FindFolderByParentSelf(std::uint32_t parentId, std::uint32_t selfId,
                                                    std::uint64_t fromSequence)
{
    auto lk = Lock();
    BuildParentSelfIndex();
    auto it = foldersByParentSelf_.find(ParentSelfKey(parentId, selfId));
    if (it == foldersByParentSelf_.end())
        return nullptr;
    std::uint64_t seq = it->second.first;
    while (seq != kNoSequence && seq < fromSequence)
        seq = nextSameParentSelf_[seq];
    return seq == kNoSequence ? nullptr : &folders_[seq];
}

RecoveredFolder* ScanResults::FindFolderByParentSelf(std::uint32_t parentId, std::uint32_t selfId,
                                                    std::uint64_t fromSequence, std::uint64_t fsKey)
{
    auto lk = Lock();
    if (!FoldersKeyedByFileSystem())
        return FindFolderByParentSelf(parentId, selfId, fromSequence);
    BuildParentSelfIndex();
    auto it = foldersByParentSelf_.find(ParentSelfKey(parentId, selfId));
    if (it == foldersByParentSelf_.end())
        return nullptr;
    std::uint64_t seq = it->second.first;
    while (seq != kNoSequence && (seq < fromSequence || folders_[seq].fsKey != fsKey))
        seq = nextSameParentSelf_[seq];
    return seq == kNoSequence ? nullptr : &folders_[seq];
}

std::string GetCommonChildFileSystem(const TreeModel& tree, TreeNodeId item)
{
    std::string common;
    bool first = true;
    for (TreeNodeId child : tree.Children(item)) {
        std::string fs = NormalizeFsName(GetTextInParentheses(tree.Text(child)));
        if (first) {
            common = fs;
            first = false;
        } else if (fs != common) {
            return {};
        }
    }
    return common;
}

}  // namespace torvane
