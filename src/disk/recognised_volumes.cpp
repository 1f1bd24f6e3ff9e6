#include "disk/recognised_volumes.h"

#include "base/text_routines.h"
#include "disk/drive_inventory.h"
#include "disk/drive_text.h"
#include "disk/drive_tree_rules.h"
#include "disk/sector_bytes.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <limits>

namespace torvane {
namespace {

bool EqualNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// A cell as an unsigned number; empty, negative or not a number gives 0.
std::uint64_t CellNumber(const std::string& cell)
{
    std::uint64_t v = 0;
    const std::string t = TrimText(cell);
    const auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    return r.ec == std::errc() ? v : 0;
}

std::uint32_t CellU32(const std::string& cell)
{
    const std::uint64_t v = CellNumber(cell);
    return v > std::numeric_limits<std::uint32_t>::max() ? 0u : static_cast<std::uint32_t>(v);
}

}  // namespace

const std::array<const char*, kRecognisedColumnCount> kRecognisedColumnTitles = {
    "SNo",          "Found File System", "File System Name", "Start Sector",
    "End Sector",   "Size",              "SPF",              "SPC",
    "RootSec",      "RootStartSec",      "ReserveSecStart",  "Cluster0Start",
    "firstFAT",     "secondFAT",         "Total Sectors",    "partType",
};

std::string RecognisedVolumeKey(const std::string& volumePath) { return "Log|" + volumePath + "|"; }

std::string RecognisedVolume::SizeText() const
{
    const std::uint64_t bytes =
        SizeSectors > std::numeric_limits<std::uint64_t>::max() / kSectorSize ? std::numeric_limits<std::uint64_t>::max()
                                                                                : SizeSectors * kSectorSize;
    return TrimText(FormatByteSize(bytes));
}

std::string RecognisedVolume::TreeText() const
{
    return Name + " - " + SizeText() + " - " + (TypeText.empty() ? FsName : TypeText);
}

std::vector<std::string> RecognisedVolume::Cells() const
{
    std::vector<std::string> cells{Key, Name, FsName, std::to_string(Start), std::to_string(End), SizeText()};
    cells.insert(cells.end(), Geometry.begin(), Geometry.end());
    cells.emplace_back();   // "Total Sectors"
    cells.emplace_back();   // "partType"
    return cells;
}

std::vector<std::string> RecognisedVolume::FoundFsCells() const
{
    std::vector<std::string> cells = Cells();
    cells.erase(cells.begin());
    return cells;
}

VolumeGeometry RecognisedVolume::ScanGeometry() const
{
    VolumeGeometry g;
    // Columns 6 .. 13.
    const auto& c = Geometry;
    if (FsName.rfind("NTFS", 0) == 0) {
        g.SectorsPerCluster = CellU32(c[0]);
        g.IndexRecordSectors = CellU32(c[1]);
        g.FileRecordSectors = CellU32(c[2]);
        g.MftStart = CellNumber(c[4]);
        g.MftMirrStart = CellNumber(c[5]);
        g.Cluster0Start = Start;
        return g;
    }
    g.SectorsPerFat = CellU32(c[0]);
    g.SectorsPerCluster = CellU32(c[1]);
    g.RootSectors = CellU32(c[2]);
    g.RootStart = CellU32(c[3]);
    g.ReservedSectors = CellU32(c[4]);
    g.Cluster0Start = CellNumber(c[5]);
    g.FirstFatStart = CellU32(c[6]);
    g.SecondFatStart = CellU32(c[7]);
    return g;
}

void RecognisedVolumeTable::Clear()
{
    std::lock_guard lock(mutex_);
    rows_.clear();
}

std::size_t RecognisedVolumeTable::Size() const
{
    std::lock_guard lock(mutex_);
    return rows_.size();
}

std::vector<RecognisedVolume> RecognisedVolumeTable::Rows() const
{
    std::lock_guard lock(mutex_);
    return rows_;
}

std::vector<RecognisedVolume> RecognisedVolumeTable::RowsOf(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    std::vector<RecognisedVolume> out;
    for (const RecognisedVolume& r : rows_)
        if (EqualNoCase(r.Key, key))
            out.push_back(r);
    return out;
}

std::optional<RecognisedVolume> RecognisedVolumeTable::Find(const std::string& key, const std::string& name) const
{
    std::lock_guard lock(mutex_);
    for (const RecognisedVolume& r : rows_)
        if (EqualNoCase(r.Key, key) && r.Name == name)
            return r;
    return std::nullopt;
}

bool RecognisedVolumeTable::Append(const RecognisedVolume& row)
{
    std::lock_guard lock(mutex_);
    for (const RecognisedVolume& r : rows_)
        if (EqualNoCase(r.Key, row.Key) &&
            (r.Name == row.Name || (r.FsName == row.FsName && r.Start == row.Start && r.End == row.End)))
            return false;
    rows_.push_back(row);
    return true;
}

TreeNodeId AddRecognisedVolume(DriveInventory& inv, TreeNodeId driveItem, const RecognisedVolume& row)
{
    auto lock = inv.Lock();
    if (driveItem == kNoTreeNode || !inv.Tree.IsValid(driveItem))
        return kNoTreeNode;
    if (!inv.RecognisedVolumes.Append(row))
        return kNoTreeNode;
    TreeNodeInit init;
    const std::string text = row.TreeText();
    init.text = text;
    init.image = kImagePartition;
    init.highlight = true;
    const TreeNodeId item = inv.Tree.InsertChild(driveItem, init);
    inv.Tree.RequestExpand(driveItem);
    return item;
}

TreeNodeId FindRecognisedItem(const DriveInventory& inv, TreeNodeId driveItem, const std::string& name)
{
    if (driveItem == kNoTreeNode)
        return kNoTreeNode;
    for (TreeNodeId c : inv.Tree.Children(driveItem)) {
        const std::string text = inv.Tree.Text(c);
        if (TrimText(text.substr(0, text.find('-'))) == name)
            return c;
    }
    return kNoTreeNode;
}

std::optional<RecognisedSource> DescribeRecognisedNode(const DriveInventory& inv, TreeNodeId node)
{
    auto lock = inv.Lock();
    if (ClassifyDriveNode(inv, node) != DriveNodeKind::Recognised)
        return std::nullopt;
    RecognisedSource s;
    s.Node = node;
    s.DriveItem = inv.Tree.Parent(node);
    const std::string parentText = inv.Tree.Text(s.DriveItem);
    s.DriveText = TrimText(parentText.substr(0, 2));
    if (const auto* d = inv.Tree.PayloadAs<const DriveDetails>(s.DriveItem)) {
        s.DriveRecord = *d;
        s.VolumePath = d->DeviceId;
    }
    if (s.VolumePath.empty())
        s.VolumePath = "\\\\.\\" + s.DriveText;
    s.Key = RecognisedVolumeKey(s.VolumePath);
    const std::string text = inv.Tree.Text(node);
    s.Name = TrimText(text.substr(0, text.find('-')));
    const std::size_t lastDash = text.rfind('-');
    s.FsName = lastDash == std::string::npos ? std::string() : TrimText(text.substr(lastDash + 1));
    // The drive's sector count: its entry in the volume-size list ("\\.\E:|sectors").
    for (const std::string& entry : inv.VolumeSizeList) {
        const std::size_t bar = entry.rfind('|');
        if (bar == std::string::npos || entry.find(s.DriveText) == std::string::npos)
            continue;
        s.DriveSectors = CellNumber(entry.substr(bar + 1));
        break;
    }
    s.DriveRows = inv.RecognisedVolumes.RowsOf(s.Key);
    for (const RecognisedVolume& r : s.DriveRows)
        if (r.Name == s.Name) {
            s.Row = r;
            break;
        }
    return s;
}

RecognisedRange RecognisedSelectionRange(const RecognisedSource& source)
{
    RecognisedRange r;
    if (source.Row) {
        r.Start = source.Row->Start;
        r.End = source.Row->End;
    }
    r.Max = source.DriveSectors != 0 ? source.DriveSectors : r.End;
    // A row that ends beyond the drive is shown (and swept) to the drive's end.
    r.End = std::min(r.End, r.Max);
    r.Start = std::min(r.Start, r.End);
    return r;
}

CurrentPartition PrepareRecognisedDeepScan(const RecognisedSource& source, std::uint64_t rangeStart,
                                           std::uint64_t rangeEnd, const std::string& fsType, std::string* description)
{
    CurrentPartition p;
    PartitionDescriptor& d = p.Descriptor;
    d.FsType = fsType;
    d.StartSector = rangeStart;
    d.EndSector = rangeEnd;
    d.ItemStart = 0;
    d.ItemEnd = source.DriveSectors;
    std::string text = "( Drive - " + source.DriveText + " ) ";
    if (source.Row) {
        const RecognisedVolume& row = *source.Row;
        text += row.Name + " / " + fsType + " / " + row.SizeText();
        d.ItemStart = row.Start;
        p.Geometry = row.ScanGeometry();
        d.CopyGeometry(p.Geometry, row.FsName.rfind("NTFS", 0) == 0);
        d.FsName = fsType;
        // The exFAT readers' positions, for a row of an exFAT file system.
        if (fsType == "exFAT") {
            p.Exfat.VolumeByteBase = rangeStart * kSectorSize;
            p.Exfat.FatByteOffset = p.Geometry.FirstFatStart <= 0xFFFFFFFFu / kSectorSize
                                        ? p.Geometry.FirstFatStart * static_cast<std::uint32_t>(kSectorSize)
                                        : 0;
            if (p.Geometry.SectorsPerCluster != 0)
                p.Exfat.HeapOffsetClusters = static_cast<std::uint32_t>(
                    std::min<std::uint64_t>(p.Geometry.Cluster0Start / p.Geometry.SectorsPerCluster,
                                            std::numeric_limits<std::uint32_t>::max()));
        }
    }
    d.EndByte = d.ItemEnd > std::numeric_limits<std::uint64_t>::max() / kSectorSize
                    ? std::numeric_limits<std::uint64_t>::max()
                    : d.ItemEnd * kSectorSize;
    d.ModeText = "Deep Search";
    p.DevicePath = source.VolumePath;
    p.SelectedSourceKind = "Recognised";
    p.ScanStartFsName = fsType;
    p.CurrentDiskSectorCount = source.DriveSectors;
    p.RecoveryMode = 2;
    if (description)
        *description = text;
    return p;
}

}  // namespace torvane
