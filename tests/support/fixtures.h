// Fixture images made by tests/fixtures/make-images.sh and their manifests.
// Formats: tests/fixtures/README.md.
#pragma once

#include "disk/volume_geometry.h"

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace torvane {
class MftRunTable;
class ScanResults;
}

namespace torvane::test {

// Absolute path of an unpacked fixture image, e.g. FixtureImage("fat32.img").
std::filesystem::path FixtureImage(const std::string& name);

// One line of a manifest: a file or folder written (and maybe deleted) on the image.
struct ManifestEntry {
    std::string path;      // "/DCIM/photo 1.jpg" relative to the volume root
    std::uint64_t size = 0;
    std::string sha256;    // lower-case hex; empty for folders and overwritten files
    // "live", "deleted", "fragmented" (live, stored in several extents), "dir",
    // "deleted-dir", "overwritten" (deleted and its clusters reused: name only, no content)
    std::string state;
    // Partition number on a disk image (1-4 primaries, 5.. logicals, GPT entries 1..);
    // 0 on a volume image. The manifest line reads "p1/DCIM/a.jpg"; `path` is then "/DCIM/a.jpg".
    int partition = 0;

    bool IsDir() const { return state == "dir" || state == "deleted-dir"; }
    bool IsDeleted() const { return state == "deleted" || state == "deleted-dir" || state == "overwritten"; }
    // A file whose bytes a recovery must give back exactly (size and sha256 known).
    bool HasContent() const { return !IsDir() && !sha256.empty(); }
};

// Reads "<image>.manifest" next to the unpacked image.
std::vector<ManifestEntry> LoadManifest(const std::string& imageName);

// The entries of one partition (0: a volume image).
std::vector<ManifestEntry> ManifestOfPartition(const std::vector<ManifestEntry>& all, int partition);

// Reads "<image>.geometry": key=value lines with the values the file-system and
// partitioning tools reported ("sectors_per_cluster", "p1.start", ...).
using Geometry = std::map<std::string, std::string>;
Geometry LoadGeometry(const std::string& imageName);

// A numeric value of a geometry file (decimal or 0x-hex); nullopt when absent or not a number.
std::optional<std::uint64_t> GeometryNumber(const Geometry& geometry, const std::string& key);

// Opens an unpacked fixture volume image (read-only) as one partition that
// covers the whole image, of file system `fsType` ("NTFS", "FAT32", ...).
// Its parameters are not read. False when the image cannot be opened.
bool OpenFixtureVolume(const std::string& imageName, const std::string& fsType, CurrentPartition& out);

// How OpenNtfsFixture or ScanNtfsFixture went. NotUnpacked: the image is not
// there and the test skips; any other value but Ready is a failure.
enum class FixtureStatus { Ready, NotUnpacked, CannotOpen, ParametersNotRead };
std::ostream& operator<<(std::ostream& out, FixtureStatus status);

// Opens the fixture volume ntfs.img as one NTFS partition with its parameters
// read, and readies `results` for a scan of it (file system "NTFS", recovery
// mode 1). A test fixture's SetUp calls it, skips on NotUnpacked and asserts
// Ready.
FixtureStatus OpenNtfsFixture(CurrentPartition& partition, ScanResults& results);
// OpenNtfsFixture, then the Basic NTFS scan of the volume into `results` and
// the $MFT run table of the volume into `table`.
FixtureStatus ScanNtfsFixture(CurrentPartition& partition, ScanResults& results, MftRunTable& table);

// A fresh temporary folder, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
private:
    std::filesystem::path path_;
};

}  // namespace torvane::test
