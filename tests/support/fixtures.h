// Fixture images made by tests/fixtures/make-images.sh and their manifests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace torvane::test {

// Absolute path of an unpacked fixture image, e.g. FixtureImage("fat32.img").
std::filesystem::path FixtureImage(const std::string& name);

// One line of a manifest: a file or folder written (and maybe deleted) on the image.
struct ManifestEntry {
    std::string path;      // "/DCIM/photo 1.jpg" relative to the volume root
    std::uint64_t size = 0;
    std::string sha256;    // lower-case hex; empty for folders
    std::string state;     // "live", "deleted", "fragmented", "dir", "deleted-dir"
};

// Reads "<image>.manifest" next to the unpacked image.
std::vector<ManifestEntry> LoadManifest(const std::string& imageName);

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
